#pragma once

#include <memory>

#include "platform/ui/ui_view.h"

enum class UIActivityIndicatorViewStyle { WhiteLarge, White, Gray };

// A spinner. Stopped and hidesWhenStopped (the default): hidden.
class UIActivityIndicatorView : public UIView {
 public:
  static std::shared_ptr<UIActivityIndicatorView> make(
      UIActivityIndicatorViewStyle style = UIActivityIndicatorViewStyle::White);
  explicit UIActivityIndicatorView(UIActivityIndicatorViewStyle style = UIActivityIndicatorViewStyle::White);
  explicit UIActivityIndicatorView(const NSCoder&) : UIActivityIndicatorView() {}

  UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
  void setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle s) { style_ = s; }
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool h);
  const std::optional<UIColor>& color() const { return color_; }
  void setColor(std::optional<UIColor> c) { color_ = std::move(c); }

  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  UIActivityIndicatorViewStyle style_;
  bool hidesWhenStopped_ = true;
  bool animating_ = false;
  std::optional<UIColor> color_;
};
