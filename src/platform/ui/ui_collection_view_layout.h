#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/geometry.h"

class UICollectionView;

// Places the items of a collection view. The collection view prepares its layout in its layout
// pass whenever the layout is invalid (after invalidateLayout, a reload or a change of items).
class UICollectionViewLayout {
 public:
  virtual ~UICollectionViewLayout() = default;

  std::shared_ptr<UICollectionView> collectionView() const { return collectionView_.lock(); }

  // Asks for a new layout in the next layout pass. Counted, for tests.
  void invalidateLayout();
  int invalidateLayoutCount() const { return invalidateLayoutCount_; }
  bool isInvalid() const { return invalid_; }

  virtual void prepareLayout() {}
  virtual CGSize collectionViewContentSize() const { return {}; }
  virtual std::optional<CGRect> frameForItemAtIndexPath(const NSIndexPath&) const { return std::nullopt; }
  // The size an item would get now (used for cells handed out before the next layout pass).
  virtual CGSize sizeForItemAtIndexPath(const NSIndexPath&) const { return {}; }

 private:
  friend class UICollectionView;
  void markInvalid();
  std::weak_ptr<UICollectionView> collectionView_;
  bool invalid_ = true;
  int invalidateLayoutCount_ = 0;
};

enum class UICollectionViewScrollDirection { Vertical, Horizontal };

// Items in lines, wrapped at the collection view's width (height, when scrolling horizontally).
// Sizes, insets and spacings come from the delegate where it answers (see
// UICollectionViewDelegateFlowLayout), else from the layout's own values.
class UICollectionViewFlowLayout : public UICollectionViewLayout {
 public:
  static std::shared_ptr<UICollectionViewFlowLayout> make() { return std::make_shared<UICollectionViewFlowLayout>(); }

  CGSize itemSize() const { return itemSize_; }
  void setItemSize(CGSize s) { itemSize_ = s; }
  CGSize estimatedItemSize() const { return estimatedItemSize_; }
  void setEstimatedItemSize(CGSize s) { estimatedItemSize_ = s; }
  CGFloat minimumLineSpacing() const { return minimumLineSpacing_; }
  void setMinimumLineSpacing(CGFloat v) { minimumLineSpacing_ = v; }
  CGFloat minimumInteritemSpacing() const { return minimumInteritemSpacing_; }
  void setMinimumInteritemSpacing(CGFloat v) { minimumInteritemSpacing_ = v; }
  UIEdgeInsets sectionInset() const { return sectionInset_; }
  void setSectionInset(UIEdgeInsets i) { sectionInset_ = i; }
  UICollectionViewScrollDirection scrollDirection() const { return scrollDirection_; }
  void setScrollDirection(UICollectionViewScrollDirection d) { scrollDirection_ = d; }
  CGSize headerReferenceSize() const { return headerReferenceSize_; }
  void setHeaderReferenceSize(CGSize s) { headerReferenceSize_ = s; }
  CGSize footerReferenceSize() const { return footerReferenceSize_; }
  void setFooterReferenceSize(CGSize s) { footerReferenceSize_ = s; }

  void prepareLayout() override;
  CGSize collectionViewContentSize() const override { return contentSize_; }
  std::optional<CGRect> frameForItemAtIndexPath(const NSIndexPath& indexPath) const override;
  CGSize sizeForItemAtIndexPath(const NSIndexPath& indexPath) const override;

 private:
  CGSize itemSize_{50, 50};
  CGSize estimatedItemSize_;
  CGFloat minimumLineSpacing_ = 10;
  CGFloat minimumInteritemSpacing_ = 10;
  UIEdgeInsets sectionInset_;
  UICollectionViewScrollDirection scrollDirection_ = UICollectionViewScrollDirection::Vertical;
  CGSize headerReferenceSize_;
  CGSize footerReferenceSize_;
  // Per section, per item: a reload of thousands lays them out again without a node each.
  std::vector<std::vector<CGRect>> frames_;
  CGSize contentSize_;
};
