#include "platform/ui/ui_collection_view_layout.h"

#include <algorithm>

#include "platform/ui/ui_collection_view.h"

void UICollectionViewLayout::markInvalid() {
  invalid_ = true;
  if (auto cv = collectionView()) cv->setNeedsLayout();
}

void UICollectionViewLayout::invalidateLayout() {
  ++invalidateLayoutCount_;
  markInvalid();
}

CGSize UICollectionViewFlowLayout::sizeForItemAtIndexPath(const NSIndexPath& indexPath) const {
  auto cv = collectionView();
  if (!cv) return itemSize_;
  auto flow = std::dynamic_pointer_cast<UICollectionViewDelegateFlowLayout>(cv->delegate());
  if (!flow) return itemSize_;
  auto* self = const_cast<UICollectionViewFlowLayout*>(this);
  return flow->sizeForItemAtIndexPath(*cv, *self, indexPath).value_or(itemSize_);
}

std::optional<CGRect> UICollectionViewFlowLayout::frameForItemAtIndexPath(const NSIndexPath& indexPath) const {
  const auto section = static_cast<std::size_t>(indexPath.section);
  const auto item = static_cast<std::size_t>(indexPath.row);
  if (indexPath.section < 0 || indexPath.row < 0 || section >= frames_.size() || item >= frames_[section].size())
    return std::nullopt;
  return frames_[section][item];
}

// Lines along the scroll direction's cross axis: "main" runs across a line, "cross" from line to
// line. For vertical scrolling main is x; for horizontal it is y.
void UICollectionViewFlowLayout::prepareLayout() {
  for (auto& section : frames_) section.clear();  // their room serves the next reload
  contentSize_ = {};
  auto cv = collectionView();
  if (!cv) return;
  bool vertical = scrollDirection_ == UICollectionViewScrollDirection::Vertical;
  UIEdgeInsets ci = cv->contentInset();
  CGSize b = cv->bounds().size;
  CGFloat extent = vertical ? b.width - ci.left - ci.right : b.height - ci.top - ci.bottom;
  auto flow = std::dynamic_pointer_cast<UICollectionViewDelegateFlowLayout>(cv->delegate());
  CGFloat cross = 0;
  for (int s = 0; s < cv->numberOfSections(); ++s) {
    UIEdgeInsets in = flow ? flow->insetForSectionAtIndex(*cv, *this, s).value_or(sectionInset_) : sectionInset_;
    CGFloat lineSpacing = flow ? flow->minimumLineSpacingForSectionAtIndex(*cv, *this, s).value_or(minimumLineSpacing_)
                               : minimumLineSpacing_;
    CGFloat itemSpacing =
        flow ? flow->minimumInteritemSpacingForSectionAtIndex(*cv, *this, s).value_or(minimumInteritemSpacing_)
             : minimumInteritemSpacing_;
    CGFloat mainStart = vertical ? in.left : in.top;
    CGFloat mainEnd = extent - (vertical ? in.right : in.bottom);
    cross += (vertical ? in.top : in.left) + (vertical ? headerReferenceSize_.height : headerReferenceSize_.width);
    CGFloat main = mainStart, lineDepth = 0;
    int items = cv->numberOfItemsInSection(s);
    if (frames_.size() <= static_cast<std::size_t>(s)) frames_.resize(static_cast<std::size_t>(s) + 1);
    auto& frames = frames_[static_cast<std::size_t>(s)];
    frames.reserve(static_cast<std::size_t>(std::max(0, items)));
    for (int r = 0; r < items; ++r) {
      NSIndexPath ip{s, r};
      CGSize size = sizeForItemAtIndexPath(ip);
      CGFloat along = vertical ? size.width : size.height;
      CGFloat depth = vertical ? size.height : size.width;
      if (main > mainStart && main + along > mainEnd) {
        cross += lineDepth + lineSpacing;
        main = mainStart;
        lineDepth = 0;
      }
      frames.push_back(vertical ? CGRect{{main, cross}, size} : CGRect{{cross, main}, size});
      main += along + itemSpacing;
      lineDepth = std::max(lineDepth, depth);
    }
    cross += lineDepth + (vertical ? in.bottom + footerReferenceSize_.height : in.right + footerReferenceSize_.width);
  }
  contentSize_ = vertical ? CGSize{std::max<CGFloat>(extent, 0), cross} : CGSize{cross, std::max<CGFloat>(extent, 0)};
}
