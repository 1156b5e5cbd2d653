#include "platform/ui/ui_collection_view_cell.h"

#include <typeinfo>

std::shared_ptr<UICollectionViewCell> UICollectionViewCell::make(CGRect frame) {
  return std::make_shared<UICollectionViewCell>(frame);
}

// Joins the tree on first use (a constructor cannot hand out the cell as a superview).
std::shared_ptr<UIView> UICollectionViewCell::contentView() const {
  auto& content = views().content;
  if (!content) {
    content = UIView::make(bounds());
    const_cast<UICollectionViewCell*>(this)->insertSubview(content, 0);
  }
  return content;
}

namespace {
const std::shared_ptr<UIView> kNoView;
}  // namespace

const std::shared_ptr<UIView>& UICollectionViewCell::backgroundView() const {
  return views_ ? views_->background : kNoView;
}

const std::shared_ptr<UIView>& UICollectionViewCell::selectedBackgroundView() const {
  return views_ ? views_->selectedBackground : kNoView;
}

CGSize UICollectionViewCell::systemLayoutSizeFittingSize(CGSize targetSize) const {
  if (!views_ || !views_->content) return bounds().size;
  return views_->content->systemLayoutSizeFittingSize(targetSize);
}

// The selection and the background views are not drawn: the cell draws what its subviews do.
bool UICollectionViewCell::drawsOnlyReportedState() const { return typeid(*this) == typeid(UICollectionViewCell); }
