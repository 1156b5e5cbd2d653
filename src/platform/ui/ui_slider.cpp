#include "platform/ui/ui_slider.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform/ui/render.h"

std::shared_ptr<UISlider> UISlider::make(CGRect frame) { return std::make_shared<UISlider>(frame); }

UISlider::UISlider(CGRect frame) : UIControl(frame) {}

void UISlider::setValue(float value, bool) {
  if (std::isnan(value)) return;
  value_ = std::clamp(value, minimumValue_, std::max(minimumValue_, maximumValue_));
}

void UISlider::setMinimumValue(float v) {
  minimumValue_ = v;
  if (maximumValue_ < v) maximumValue_ = v;
  setValue(value_);
}

void UISlider::setMaximumValue(float v) {
  maximumValue_ = v;
  if (minimumValue_ > v) minimumValue_ = v;
  setValue(value_);
}

bool UISlider::drag(UITouch::Phase phase, float value) {
  if (!isUsable()) return false;
  auto keep = weak_from_this().lock();
  setValue(value);
  UIEvent event;
  event.allTouches.push_back(UITouch{phase, center(), keep ? sharedAs<UIView>() : nullptr});
  bool ends = phase == UITouch::Phase::Ended || phase == UITouch::Phase::Cancelled;
  if (phase == UITouch::Phase::Began) sendActionsForControlEvents(UIControlEvents::TouchDown, &event);
  if (continuous_ || ends) sendActionsForControlEvents(UIControlEvents::ValueChanged, &event);
  if (phase == UITouch::Phase::Ended) sendActionsForControlEvents(UIControlEvents::TouchUpInside, &event);
  if (phase == UITouch::Phase::Cancelled) sendActionsForControlEvents(UIControlEvents::TouchCancel, &event);
  return true;
}

void UISlider::renderSelf(TextCanvas& canvas) const {
  float span = maximumValue_ - minimumValue_;
  int percent = span > 0 ? static_cast<int>(std::lround((value_ - minimumValue_) / span * 100)) : 0;
  std::string line = fmt::format("<slider {}%>", percent);
  if (!accessibilityIdentifier().empty()) line += " #" + accessibilityIdentifier();
  if (!isEnabled()) line += " (disabled)";
  canvas.line(line);
}
