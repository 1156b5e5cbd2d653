#include "platform/ui/ui_image_view.h"

#include "platform/ui/render.h"

std::shared_ptr<UIImageView> UIImageView::make(std::shared_ptr<UIImage> image) {
  return std::make_shared<UIImageView>(std::move(image));
}

UIImageView::UIImageView(CGRect frame) : UIView(frame) { setUserInteractionEnabled(false); }

UIImageView::UIImageView(std::shared_ptr<UIImage> image)
    : UIImageView(CGRect{{0, 0}, image ? image->size() : CGSize{}}) {
  image_ = std::move(image);
}

CGSize UIImageView::sizeThatFits(CGSize) const { return image_ ? image_->size() : CGSize{}; }

void UIImageView::renderSelf(TextCanvas& canvas) const {
  const auto& shown = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
  if (shown) canvas.line("(image: " + shown->description() + ")");
}
