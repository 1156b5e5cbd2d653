#include "platform/ui/ui_collection_view.h"

#include <fmt/format.h>

#include "platform/foundation/fatal_error.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_nib.h"

std::shared_ptr<UICollectionView> UICollectionView::make(CGRect frame, std::shared_ptr<UICollectionViewLayout> layout) {
  return std::make_shared<UICollectionView>(frame, std::move(layout));
}

UICollectionView::UICollectionView(CGRect frame, std::shared_ptr<UICollectionViewLayout> layout)
    : UIScrollView(frame), layout_(layout ? std::move(layout) : UICollectionViewFlowLayout::make()), grid_(*this) {}

void UICollectionView::setCollectionViewLayout(std::shared_ptr<UICollectionViewLayout> layout) {
  if (!layout) return;
  layout_ = std::move(layout);
  if (auto self = weak_from_this().lock()) layout_->collectionView_ = std::static_pointer_cast<UICollectionView>(self);
  layout_->markInvalid();
}

void UICollectionView::setDataSource(std::weak_ptr<UICollectionViewDataSource> dataSource) {
  dataSource_ = std::move(dataSource);
  grid_.invalidate();
  setNeedsLayout();
}

void UICollectionView::setDelegate(std::weak_ptr<UICollectionViewDelegate> delegate) {
  UIScrollView::setDelegate(delegate);
  delegate_ = std::move(delegate);
  layout_->markInvalid();
}

UICollectionView::Grid::Source UICollectionView::source() {
  // The layout learns its collection view here: a constructor cannot hand itself out.
  if (layout_->collectionView_.expired()) {
    if (auto self = weak_from_this().lock())
      layout_->collectionView_ = std::static_pointer_cast<UICollectionView>(self);
  }
  Grid::Source s;
  s.sectionCount = [this] {
    auto ds = dataSource();
    return ds ? ds->numberOfSectionsInCollectionView(*this) : 0;
  };
  s.itemCount = [this](int section) {
    auto ds = dataSource();
    return ds ? ds->numberOfItemsInSection(*this, section) : 0;
  };
  s.cell = [this](const NSIndexPath& ip) -> std::shared_ptr<UICollectionViewCell> {
    auto ds = dataSource();
    auto cell = ds ? ds->cellForItemAtIndexPath(*this, ip) : nullptr;
    if (!cell)
      fatalError(fmt::format("UICollectionView: the data source returned no cell for item {} of section {}", ip.row,
                             ip.section));
    if (auto d = delegate()) d->willDisplayCell(*this, *cell, ip);
    return cell;
  };
  // Sizes are known before cells are asked for, as the platform prepares the layout first.
  s.counted = [this] {
    layout_->markInvalid();
    prepareLayoutIfNeeded();
  };
  return s;
}

void UICollectionView::ensureLoaded() {
  if (!grid_.isLoaded()) reloadData();
}

void UICollectionView::prepareLayoutIfNeeded() {
  if (!layout_->isInvalid()) return;
  layout_->invalid_ = false;  // an invalidation while preparing asks for the next pass
  ++layoutPasses_;
  layout_->prepareLayout();
  setContentSize(layout_->collectionViewContentSize());
}

void UICollectionView::placeCells() {
  grid_.forEachCell([this](const NSIndexPath& ip, UICollectionViewCell& cell) {
    if (auto frame = layout_->frameForItemAtIndexPath(ip)) cell.setFrame(*frame);
  });
}

void UICollectionView::registerPrototype(const std::string& reuseIdentifier, CellFactory factory) {
  grid_.registerFactory(reuseIdentifier, std::move(factory));
}

void UICollectionView::registerNib(const std::shared_ptr<UINib>& nib, const std::string& reuseIdentifier) {
  if (!nib) return;
  grid_.registerFactory(
      reuseIdentifier,
      [nib] {
        auto views = nib->instantiateWithOwner(nullptr);
        auto cell = views.empty() ? nullptr : std::dynamic_pointer_cast<UICollectionViewCell>(views.front());
        if (!cell)
          fatalError("UICollectionView: the nib '" + nib->name() + "' does not start with a collection view cell");
        return cell;
      },
      true);
}

std::shared_ptr<UICollectionViewCell> UICollectionView::dequeueReusableCellWithReuseIdentifier(
    const std::string& identifier, const NSIndexPath& indexPath) {
  auto cell = grid_.dequeue(identifier);
  if (!cell) fatalError("UICollectionView: unable to dequeue a cell with identifier " + identifier);
  if (auto frame = layout_->frameForItemAtIndexPath(indexPath)) {
    cell->setFrame(*frame);
  } else {
    cell->setFrame(CGRect{cell->frame().origin, layout_->sizeForItemAtIndexPath(indexPath)});
  }
  return cell;
}

void UICollectionView::reloadData() {
  auto keep = weak_from_this().lock();
  grid_.reloadAll(source());
}

void UICollectionView::reloadSections(const NSIndexSet& sections) {
  auto keep = weak_from_this().lock();
  grid_.reloadSections(source(), sections);
}

void UICollectionView::reloadItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths) {
  auto keep = weak_from_this().lock();
  grid_.reload(source(), indexPaths);
}

void UICollectionView::insertItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths) {
  auto keep = weak_from_this().lock();
  grid_.insertItems(source(), indexPaths);
}

void UICollectionView::deleteItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths) {
  auto keep = weak_from_this().lock();
  grid_.deleteItems(source(), indexPaths);
}

void UICollectionView::insertSections(const NSIndexSet& sections) {
  auto keep = weak_from_this().lock();
  grid_.insertSections(source(), sections);
}

void UICollectionView::deleteSections(const NSIndexSet& sections) {
  auto keep = weak_from_this().lock();
  grid_.deleteSections(source(), sections);
}

void UICollectionView::performBatchUpdates(const std::function<void()>& updates,
                                           const std::function<void(bool)>& completion) {
  auto keep = weak_from_this().lock();
  if (updates) updates();
  if (completion) completion(true);
}

int UICollectionView::numberOfSections() {
  ensureLoaded();
  return grid_.numberOfSections();
}

int UICollectionView::numberOfItemsInSection(int section) {
  ensureLoaded();
  return grid_.numberOfItems(section);
}

std::shared_ptr<UICollectionViewCell> UICollectionView::cellForItemAtIndexPath(const NSIndexPath& indexPath) {
  ensureLoaded();
  return grid_.cellAt(indexPath);
}

std::vector<std::shared_ptr<UICollectionViewCell>> UICollectionView::visibleCells() {
  ensureLoaded();
  return grid_.visibleCells();
}

std::vector<NSIndexPath> UICollectionView::indexPathsForVisibleItems() {
  ensureLoaded();
  return grid_.visiblePaths();
}

std::optional<NSIndexPath> UICollectionView::indexPathForCell(const UICollectionViewCell& cell) {
  ensureLoaded();
  return grid_.indexPathForCell(cell);
}

void UICollectionView::selectItemAtIndexPath(std::optional<NSIndexPath> indexPath, bool) {
  ensureLoaded();
  grid_.selectInCode(indexPath, allowsMultipleSelection_);
}

void UICollectionView::deselectItemAtIndexPath(const NSIndexPath& indexPath, bool) { grid_.deselect(indexPath); }

std::vector<NSIndexPath> UICollectionView::indexPathsForSelectedItems() const {
  return {grid_.selected().begin(), grid_.selected().end()};
}

bool UICollectionView::tapItemAtIndexPath(const NSIndexPath& indexPath) {
  ensureLoaded();
  if (!grid_.isValid(indexPath) || !canReceiveTouches()) return false;
  auto keep = weak_from_this().lock();
  auto cell = grid_.cellAt(indexPath);
  if (!UIGestureRecognizer::deliverTap(cell ? static_cast<const UIView&>(*cell) : *this)) return true;
  if (!allowsSelection_) return true;
  if (auto d = delegate(); d && !d->shouldSelectItemAtIndexPath(*this, indexPath)) return true;
  grid_.choose(
      indexPath, allowsMultipleSelection_,
      [this](const NSIndexPath& ip) {
        if (auto d = delegate()) d->didSelectItemAtIndexPath(*this, ip);
      },
      [this](const NSIndexPath& ip) {
        if (auto d = delegate()) d->didDeselectItemAtIndexPath(*this, ip);
      });
  return true;
}

void UICollectionView::layoutSubviews() {
  UIScrollView::layoutSubviews();
  auto keep = weak_from_this().lock();
  source();  // binds the layout
  int prepared = layoutPasses_;
  ensureLoaded();
  // One preparation per pass: an invalidation while sizing waits for the next pass.
  if (layoutPasses_ == prepared) prepareLayoutIfNeeded();
  placeCells();
}

void UICollectionView::render(TextCanvas& canvas) const {
  const_cast<UICollectionView*>(this)->ensureLoaded();
  UIScrollView::render(canvas);
}

void UICollectionView::renderSubviews(TextCanvas& canvas) const {
  for (const auto& v : subviews()) {
    if (!grid_.isCell(v.get())) v->render(canvas);
  }
  grid_.forEachLine([&canvas](const NSIndexPath&, const std::string& text) { canvas.printableLine(text); });
}
