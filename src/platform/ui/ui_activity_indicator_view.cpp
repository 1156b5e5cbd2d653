#include "platform/ui/ui_activity_indicator_view.h"

#include "platform/ui/render.h"

std::shared_ptr<UIActivityIndicatorView> UIActivityIndicatorView::make(UIActivityIndicatorViewStyle style) {
  return std::make_shared<UIActivityIndicatorView>(style);
}

UIActivityIndicatorView::UIActivityIndicatorView(UIActivityIndicatorViewStyle style)
    : UIView(CGRect{{0, 0}, {20, 20}}), style_(style) {
  setHidden(true);
}

void UIActivityIndicatorView::setHidesWhenStopped(bool h) {
  hidesWhenStopped_ = h;
  if (!animating_) setHidden(h);
}

void UIActivityIndicatorView::startAnimating() {
  animating_ = true;
  setHidden(false);
}

void UIActivityIndicatorView::stopAnimating() {
  animating_ = false;
  if (hidesWhenStopped_) setHidden(true);
}

void UIActivityIndicatorView::renderSelf(TextCanvas& canvas) const {
  if (animating_) canvas.line("(busy)");
}
