#pragma once

#include <memory>

#include "platform/ui/ui_control.h"

// A value between a minimum and a maximum, moved by the user's thumb.
class UISlider : public UIControl {
 public:
  static std::shared_ptr<UISlider> make(CGRect frame = {});
  explicit UISlider(CGRect frame = {});
  explicit UISlider(const NSCoder&) : UISlider(CGRect{}) {}

  float value() const { return value_; }
  // Kept within the bounds; sends nothing.
  void setValue(float value, bool animated = false);
  float minimumValue() const { return minimumValue_; }
  void setMinimumValue(float v);
  float maximumValue() const { return maximumValue_; }
  void setMaximumValue(float v);
  bool isContinuous() const { return continuous_; }
  void setContinuous(bool c) { continuous_ = c; }
  const std::optional<UIColor>& minimumTrackTintColor() const { return minimumTrackTintColor_; }
  void setMinimumTrackTintColor(std::optional<UIColor> c) { minimumTrackTintColor_ = std::move(c); }
  const std::optional<UIColor>& maximumTrackTintColor() const { return maximumTrackTintColor_; }
  void setMaximumTrackTintColor(std::optional<UIColor> c) { maximumTrackTintColor_ = std::move(c); }
  const std::optional<UIColor>& thumbTintColor() const { return thumbTintColor_; }
  void setThumbTintColor(std::optional<UIColor> c) { thumbTintColor_ = std::move(c); }

  // One phase of the user's drag with the thumb at `value`: the value moves (within the bounds)
  // and ValueChanged is sent with an event whose touch has that phase (a non-continuous slider
  // sends it only when the touch ends). Began also sends TouchDown, Ended TouchUpInside,
  // Cancelled TouchCancel. Refused (false) when the slider cannot be used.
  bool drag(UITouch::Phase phase, float value);

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  float value_ = 0;
  float minimumValue_ = 0;
  float maximumValue_ = 1;
  bool continuous_ = true;
  std::optional<UIColor> minimumTrackTintColor_;
  std::optional<UIColor> maximumTrackTintColor_;
  std::optional<UIColor> thumbTintColor_;
};
