#include "platform/ui/ui_collection_view_cell.h"

#include <typeinfo>

std::shared_ptr<UICollectionViewCell> UICollectionViewCell::make(CGRect frame) {
  return std::make_shared<UICollectionViewCell>(frame);
}

// Joins the tree on first use (a constructor cannot hand out the cell as a superview).
std::shared_ptr<UIView> UICollectionViewCell::contentView() const {
  if (!contentView_) {
    contentView_ = UIView::make(bounds());
    const_cast<UICollectionViewCell*>(this)->insertSubview(contentView_, 0);
  }
  return contentView_;
}

CGSize UICollectionViewCell::systemLayoutSizeFittingSize(CGSize targetSize) const {
  if (!contentView_) return bounds().size;
  return contentView_->systemLayoutSizeFittingSize(targetSize);
}

// The selection and the background views are not drawn: the cell draws what its subviews do.
bool UICollectionViewCell::drawsOnlyReportedState() const { return typeid(*this) == typeid(UICollectionViewCell); }
