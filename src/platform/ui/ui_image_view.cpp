#include "platform/ui/ui_image_view.h"

#include <algorithm>
#include <typeinfo>

#include "platform/ui/render.h"
#include "platform/ui/ui_gesture_recognizer.h"

std::shared_ptr<UIImageView> UIImageView::make(std::shared_ptr<UIImage> image) {
  return std::make_shared<UIImageView>(std::move(image));
}

UIImageView::UIImageView(CGRect frame) : UIView(frame) { setUserInteractionEnabled(false); }

UIImageView::UIImageView(std::shared_ptr<UIImage> image)
    : UIImageView(CGRect{{0, 0}, image ? image->size() : CGSize{}}) {
  image_ = std::move(image);
}

const std::shared_ptr<UIImage>& UIImageView::highlightedImage() const {
  static const std::shared_ptr<UIImage> none;
  return highlightedImage_ ? *highlightedImage_ : none;
}

void UIImageView::setHighlightedImage(std::shared_ptr<UIImage> image) {
  if (image == highlightedImage()) return;
  renderInputChanged();
  if (highlightedImage_) {
    *highlightedImage_ = std::move(image);
  } else {
    highlightedImage_ = std::make_unique<std::shared_ptr<UIImage>>(std::move(image));
  }
}

CGSize UIImageView::sizeThatFits(CGSize) const { return image_ ? image_->size() : CGSize{}; }

bool UIImageView::isTappable() const {
  if (!isUserInteractionEnabled() || accessibilityIdentifier().empty()) return false;
  return std::any_of(gestureRecognizers().begin(), gestureRecognizers().end(), [](const auto& recognizer) {
    return recognizer->isEnabled() && dynamic_cast<const UITapGestureRecognizer*>(recognizer.get());
  });
}

bool UIImageView::drawsOnlyReportedState() const {
  return typeid(*this) == typeid(UIImageView) && gestureRecognizers().empty();
}

void UIImageView::renderSelf(TextCanvas& canvas) const {
  const auto& shown = highlighted_ && highlightedImage() ? highlightedImage() : image_;
  // One that takes taps must be findable, picture or not.
  const bool tappable = isTappable();
  if (!shown && !tappable) return;
  std::string line = shown ? "(image: " + shown->description() + ")" : "(no picture)";
  if (tappable) line += " #" + accessibilityIdentifier();
  canvas.line(line);
}
