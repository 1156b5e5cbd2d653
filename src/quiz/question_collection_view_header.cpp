#include "quiz/question_collection_view_header.h"

CGSize QuestionCollectionViewHeader::preferredLayoutSizeFittingSize(CGSize targetSize) {
  setFrame(CGRect{frame().origin, targetSize});
  setNeedsLayout();
  layoutIfNeeded();
  if (auto label = questionLabel.lock()) label->setPreferredMaxLayoutWidth(label->frame().size.width);
  CGSize fitted = systemLayoutSizeFittingSize(UILayoutFittingCompressedSize);
  return {targetSize.width, fitted.height};
}

void QuestionCollectionViewHeader::layoutSubviews() {
  UICollectionViewCell::layoutSubviews();
  contentView()->setFrame(bounds());
  if (auto label = questionLabel.lock()) label->setFrame(bounds());
}

CGSize QuestionCollectionViewHeader::systemLayoutSizeFittingSize(CGSize targetSize) const {
  auto label = questionLabel.lock();
  return {targetSize.width > 0 ? targetSize.width : bounds().size.width,
          label ? label->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize).height : 0};
}
