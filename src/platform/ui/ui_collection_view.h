#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/cell_grid.h"
#include "platform/ui/ui_collection_view_cell.h"
#include "platform/ui/ui_collection_view_layout.h"
#include "platform/ui/ui_scroll_view.h"

class UICollectionView;
class UINib;

class UICollectionViewDataSource {
 public:
  virtual ~UICollectionViewDataSource() = default;
  virtual int numberOfSectionsInCollectionView(UICollectionView&) { return 1; }
  virtual int numberOfItemsInSection(UICollectionView& collectionView, int section) = 0;
  virtual std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                                       const NSIndexPath& indexPath) = 0;
};

// The collection's delegate is also its scroll view's delegate.
class UICollectionViewDelegate : public UIScrollViewDelegate {
 public:
  virtual bool shouldSelectItemAtIndexPath(UICollectionView&, const NSIndexPath&) { return true; }
  virtual void didSelectItemAtIndexPath(UICollectionView&, const NSIndexPath&) {}
  virtual void didDeselectItemAtIndexPath(UICollectionView&, const NSIndexPath&) {}
  virtual void willDisplayCell(UICollectionView&, UICollectionViewCell&, const NSIndexPath&) {}
};

// The flow layout's questions to the delegate; nothing (the default) means "use the layout's value".
class UICollectionViewDelegateFlowLayout : public UICollectionViewDelegate {
 public:
  virtual std::optional<CGSize> sizeForItemAtIndexPath(UICollectionView&, UICollectionViewLayout&, const NSIndexPath&) {
    return std::nullopt;
  }
  virtual std::optional<UIEdgeInsets> insetForSectionAtIndex(UICollectionView&, UICollectionViewLayout&, int) {
    return std::nullopt;
  }
  virtual std::optional<CGFloat> minimumLineSpacingForSectionAtIndex(UICollectionView&, UICollectionViewLayout&, int) {
    return std::nullopt;
  }
  virtual std::optional<CGFloat> minimumInteritemSpacingForSectionAtIndex(UICollectionView&, UICollectionViewLayout&,
                                                                          int) {
    return std::nullopt;
  }
};

// Items in sections, asked of the data source and placed by the layout. Loading follows the
// table's rules (first load on first need, every item has a cell, reuse by identifier); the layout
// is prepared in the layout pass when invalid, and cells get their frames from it.
class UICollectionView : public UIScrollView {
 public:
  using CellFactory = std::function<std::shared_ptr<UICollectionViewCell>()>;

  static std::shared_ptr<UICollectionView> make(CGRect frame = {},
                                                std::shared_ptr<UICollectionViewLayout> layout = nullptr);
  // Without a layout, a flow layout.
  UICollectionView(CGRect frame, std::shared_ptr<UICollectionViewLayout> layout);
  explicit UICollectionView(const NSCoder&) : UICollectionView(CGRect{}, nullptr) {}

  const std::shared_ptr<UICollectionViewLayout>& collectionViewLayout() const { return layout_; }
  void setCollectionViewLayout(std::shared_ptr<UICollectionViewLayout> layout);

  std::shared_ptr<UICollectionViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<UICollectionViewDataSource> dataSource);
  std::shared_ptr<UICollectionViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UICollectionViewDelegate> delegate);

  // Prototype cells and nibs: the factory makes a bare cell; the collection sets its reuse
  // identifier and calls awakeFromNib.
  void registerPrototype(const std::string& reuseIdentifier, CellFactory factory);
  template <class T>
  void registerClass(const std::string& reuseIdentifier) {
    registerPrototype(reuseIdentifier, [] { return std::make_shared<T>(NSCoder{}); });
  }
  // Cells made from `nib`, whose first top-level view must be a collection view cell (else the
  // program stops when the first one is made). Nib loading awakes them.
  void registerNib(const std::shared_ptr<UINib>& nib, const std::string& reuseIdentifier);
  // A reusable or new cell sized for the item; an unknown identifier stops the program.
  std::shared_ptr<UICollectionViewCell> dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                                               const NSIndexPath& indexPath);

  void reloadData();
  void reloadSections(const NSIndexSet& sections);
  void reloadItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths);
  void insertItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths);
  void deleteItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths);
  void insertSections(const NSIndexSet& sections);
  void deleteSections(const NSIndexSet& sections);
  // Runs the updates at once, then the completion with true.
  void performBatchUpdates(const std::function<void()>& updates, const std::function<void(bool)>& completion = {});

  int numberOfSections();
  int numberOfItemsInSection(int section);
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const NSIndexPath& indexPath);
  std::vector<std::shared_ptr<UICollectionViewCell>> visibleCells();
  std::vector<NSIndexPath> indexPathsForVisibleItems();
  std::optional<NSIndexPath> indexPathForCell(const UICollectionViewCell& cell);

  // Selection in code: no delegate calls.
  void selectItemAtIndexPath(std::optional<NSIndexPath> indexPath, bool animated);
  void deselectItemAtIndexPath(const NSIndexPath& indexPath, bool animated);
  std::vector<NSIndexPath> indexPathsForSelectedItems() const;
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool a) { allowsSelection_ = a; }
  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool a) { allowsMultipleSelection_ = a; }

  // A user's tap on an item: tap recognisers first, then shouldSelect and the selection calls.
  // Refused (false) for an item that does not exist or when the view cannot take touches.
  bool tapItemAtIndexPath(const NSIndexPath& indexPath);

  int reloadDataCount() const { return grid_.reloadCount(); }
  int cellsCreated() const { return grid_.createdCount(); }
  int cellsReused() const { return grid_.reusedCount(); }

  // Loads if needed, prepares an invalid layout and places the cells.
  void layoutSubviews() override;
  void render(TextCanvas& canvas) const override;

 protected:
  void renderSubviews(TextCanvas& canvas) const override;

 private:
  using Grid = ui_detail::CellGrid<UICollectionViewCell>;
  Grid::Source source();
  void ensureLoaded();
  void prepareLayoutIfNeeded();
  void placeCells();

  std::shared_ptr<UICollectionViewLayout> layout_;
  std::weak_ptr<UICollectionViewDataSource> dataSource_;
  std::weak_ptr<UICollectionViewDelegate> delegate_;
  Grid grid_;
  bool allowsSelection_ = true;
  bool allowsMultipleSelection_ = false;
  int layoutPasses_ = 0;
};
