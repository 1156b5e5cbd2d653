#include "platform/ui/ui_table_view.h"

#include <algorithm>
#include <set>

#include <fmt/format.h>

#include "platform/foundation/fatal_error.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_gesture_recognizer.h"

namespace {

// As a swipe shows them: "Quiz|Docs".
std::string joinedTitles(const std::vector<std::shared_ptr<UITableViewRowAction>>& actions) {
  std::string titles;
  for (const auto& a : actions) {
    if (!a) continue;
    if (!titles.empty()) titles += '|';
    titles += a->title().value_or("");
  }
  return titles;
}

}  // namespace

std::shared_ptr<UITableView> UITableView::make(CGRect frame, UITableViewStyle style) {
  return std::make_shared<UITableView>(frame, style);
}

UITableView::UITableView(CGRect frame, UITableViewStyle style) : UIScrollView(frame), style_(style), grid_(*this) {}

void UITableView::setDataSource(std::weak_ptr<UITableViewDataSource> dataSource) {
  dataSource_ = std::move(dataSource);
  grid_.invalidate();
  setNeedsLayout();
}

void UITableView::setDelegate(std::weak_ptr<UITableViewDelegate> delegate) {
  UIScrollView::setDelegate(delegate);
  delegate_ = std::move(delegate);
  // Another delegate offers other actions; the rows learn them at their next reload.
  swipeTitles_.clear();
}

UITableView::Grid::Source UITableView::source() {
  Grid::Source s;
  s.sectionCount = [this] {
    auto ds = dataSource();
    return ds ? ds->numberOfSectionsInTableView(*this) : 0;
  };
  s.itemCount = [this](int section) {
    auto ds = dataSource();
    return ds ? ds->numberOfRowsInSection(*this, section) : 0;
  };
  s.cell = [this](const NSIndexPath& ip) -> std::shared_ptr<UITableViewCell> {
    auto ds = dataSource();
    auto cell = ds ? ds->cellForRowAtIndexPath(*this, ip) : nullptr;
    if (!cell)
      fatalError(
          fmt::format("UITableView: the data source returned no cell for row {} of section {}", ip.row, ip.section));
    if (auto d = delegate()) d->willDisplayCell(*this, *cell, ip);
    noteSwipeTitles(ip, *cell);
    return cell;
  };
  return s;
}

void UITableView::noteSwipeTitles(const NSIndexPath& indexPath, const UITableViewCell& cell) {
  swipeTitles_.erase(&cell);
  auto ds = dataSource();
  auto d = delegate();
  if (!ds || !d || !ds->canEditRowAtIndexPath(*this, indexPath)) return;
  auto titles = joinedTitles(d->editActionsForRowAtIndexPath(*this, indexPath).value_or(std::vector<std::shared_ptr<UITableViewRowAction>>{}));
  if (!titles.empty()) swipeTitles_.emplace(&cell, std::move(titles));
}

void UITableView::ensureLoaded() {
  if (grid_.isLoaded()) return;
  reloadData();
}

void UITableView::registerPrototype(const std::string& reuseIdentifier, CellFactory factory) {
  grid_.registerFactory(reuseIdentifier, std::move(factory));
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  return grid_.dequeue(identifier);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                                const NSIndexPath&) {
  auto cell = grid_.dequeue(identifier);
  if (!cell) fatalError("UITableView: unable to dequeue a cell with identifier " + identifier);
  return cell;
}

void UITableView::afterChange() {
  if (!layingOut_) setNeedsLayout();
  if (swiped_ && !grid_.isValid(*swiped_)) {
    swiped_.reset();
    swipedActions_.clear();
  }
}

void UITableView::reloadData() {
  auto keep = weak_from_this().lock();
  swiped_.reset();
  swipedActions_.clear();
  swipeTitles_.clear();
  grid_.reloadAll(source());
  refreshSectionViews(nullptr);
  if (!layingOut_) setNeedsLayout();
}

void UITableView::reloadSections(const NSIndexSet& sections, UITableViewRowAnimation) {
  auto keep = weak_from_this().lock();
  grid_.reloadSections(source(), sections);
  refreshSectionViews(&sections);
  afterChange();
}

void UITableView::reloadRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation) {
  auto keep = weak_from_this().lock();
  grid_.reload(source(), indexPaths);
  afterChange();
}

void UITableView::insertRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation) {
  auto keep = weak_from_this().lock();
  grid_.insertItems(source(), indexPaths);
  swiped_.reset();
  afterChange();
}

void UITableView::deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation) {
  auto keep = weak_from_this().lock();
  grid_.deleteItems(source(), indexPaths);
  swiped_.reset();
  afterChange();
}

void UITableView::insertSections(const NSIndexSet& sections, UITableViewRowAnimation) {
  auto keep = weak_from_this().lock();
  grid_.insertSections(source(), sections);
  swiped_.reset();
  refreshSectionViews(nullptr);
  afterChange();
}

void UITableView::deleteSections(const NSIndexSet& sections, UITableViewRowAnimation) {
  auto keep = weak_from_this().lock();
  grid_.deleteSections(source(), sections);
  swiped_.reset();
  refreshSectionViews(nullptr);
  afterChange();
}

void UITableView::setSectionView(std::vector<std::shared_ptr<UIView>>& views, int section,
                                 std::shared_ptr<UIView> view) {
  auto& slot = views[static_cast<std::size_t>(section)];
  if (slot && slot != view && slot->superview().get() == this) slot->removeFromSuperview();
  slot = std::move(view);
  if (slot && slot->superview().get() != this) addSubview(slot);
}

// Section header and footer views, asked for every section (or the given ones).
void UITableView::refreshSectionViews(const NSIndexSet* only) {
  auto sections = static_cast<std::size_t>(grid_.numberOfSections());
  for (auto* views : {&headerViews_, &footerViews_}) {
    for (std::size_t s = sections; s < views->size(); ++s) {
      if ((*views)[s] && (*views)[s]->superview().get() == this) (*views)[s]->removeFromSuperview();
    }
    views->resize(sections);
  }
  auto d = delegate();
  for (int s = 0; s < grid_.numberOfSections(); ++s) {
    if (only && !only->count(s)) continue;
    setSectionView(headerViews_, s, d ? d->viewForHeaderInSection(*this, s) : nullptr);
    setSectionView(footerViews_, s, d ? d->viewForFooterInSection(*this, s) : nullptr);
  }
}

int UITableView::numberOfSections() {
  ensureLoaded();
  return grid_.numberOfSections();
}

int UITableView::numberOfRowsInSection(int section) {
  ensureLoaded();
  return grid_.numberOfItems(section);
}

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(const NSIndexPath& indexPath) {
  ensureLoaded();
  return grid_.cellAt(indexPath);
}

std::vector<std::shared_ptr<UITableViewCell>> UITableView::visibleCells() {
  ensureLoaded();
  return grid_.visibleCells();
}

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows() {
  ensureLoaded();
  return grid_.visiblePaths();
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell& cell) {
  ensureLoaded();
  return grid_.indexPathForCell(cell);
}

std::shared_ptr<UIView> UITableView::headerViewForSection(int section) {
  ensureLoaded();
  return section >= 0 && static_cast<std::size_t>(section) < headerViews_.size()
             ? headerViews_[static_cast<std::size_t>(section)]
             : nullptr;
}

std::shared_ptr<UIView> UITableView::footerViewForSection(int section) {
  ensureLoaded();
  return section >= 0 && static_cast<std::size_t>(section) < footerViews_.size()
             ? footerViews_[static_cast<std::size_t>(section)]
             : nullptr;
}

void UITableView::selectRowAtIndexPath(std::optional<NSIndexPath> indexPath, bool, UITableViewScrollPosition) {
  ensureLoaded();
  grid_.selectInCode(indexPath, allowsMultipleSelection_);
}

void UITableView::deselectRowAtIndexPath(const NSIndexPath& indexPath, bool) { grid_.deselect(indexPath); }

std::optional<NSIndexPath> UITableView::indexPathForSelectedRow() const {
  if (grid_.selected().empty()) return std::nullopt;
  return *grid_.selected().begin();
}

std::vector<NSIndexPath> UITableView::indexPathsForSelectedRows() const {
  return {grid_.selected().begin(), grid_.selected().end()};
}

void UITableView::setEditing(bool editing, bool animated) {
  editing_ = editing;
  swiped_.reset();
  swipedActions_.clear();
  for (const auto& cell : grid_.visibleCells()) cell->setEditing(editing, animated);
}

void UITableView::setTableHeaderView(std::shared_ptr<UIView> view) {
  if (tableHeaderView_ && tableHeaderView_->superview().get() == this) tableHeaderView_->removeFromSuperview();
  tableHeaderView_ = std::move(view);
  if (tableHeaderView_) addSubview(tableHeaderView_);
}

void UITableView::setTableFooterView(std::shared_ptr<UIView> view) {
  if (tableFooterView_ && tableFooterView_->superview().get() == this) tableFooterView_->removeFromSuperview();
  tableFooterView_ = std::move(view);
  if (tableFooterView_) addSubview(tableFooterView_);
}

bool UITableView::tapRowAtIndexPath(const NSIndexPath& indexPath) {
  ensureLoaded();
  if (!grid_.isValid(indexPath) || !canReceiveTouches()) return false;
  auto keep = weak_from_this().lock();
  auto cell = grid_.cellAt(indexPath);
  if (!UIGestureRecognizer::deliverTap(cell ? static_cast<const UIView&>(*cell) : *this)) return true;
  if (swiped_) {  // the tap closes the open row instead
    swiped_.reset();
    swipedActions_.clear();
    return true;
  }
  if (!allowsSelection_ || (editing_ && !allowsSelectionDuringEditing_)) return true;
  std::optional<NSIndexPath> target = indexPath;
  if (auto d = delegate()) target = d->willSelectRowAtIndexPath(*this, indexPath);
  if (!target || !grid_.isValid(*target)) return true;
  grid_.choose(
      *target, allowsMultipleSelection_,
      [this](const NSIndexPath& ip) {
        if (auto d = delegate()) d->didSelectRowAtIndexPath(*this, ip);
      },
      [this](const NSIndexPath& ip) {
        if (auto d = delegate()) d->didDeselectRowAtIndexPath(*this, ip);
      });
  return true;
}

std::vector<std::shared_ptr<UITableViewRowAction>> UITableView::swipeRowAtIndexPath(const NSIndexPath& indexPath) {
  ensureLoaded();
  swiped_.reset();
  swipedActions_.clear();
  if (!grid_.isValid(indexPath) || !canReceiveTouches() || editing_) return {};
  auto keep = weak_from_this().lock();
  auto ds = dataSource();
  if (!ds || !ds->canEditRowAtIndexPath(*this, indexPath)) return {};
  std::vector<std::shared_ptr<UITableViewRowAction>> actions;
  if (auto d = delegate()) actions = d->editActionsForRowAtIndexPath(*this, indexPath).value_or(actions);
  actions.erase(std::remove(actions.begin(), actions.end(), nullptr), actions.end());
  if (!actions.empty() && grid_.isValid(indexPath)) {
    swiped_ = indexPath;
    swipedActions_ = actions;
  }
  return actions;
}

bool UITableView::performRowAction(const NSIndexPath& indexPath, const std::string& title) {
  auto actions = swipeRowAtIndexPath(indexPath);
  auto it = std::find_if(actions.begin(), actions.end(), [&](const auto& a) { return a->title() == title; });
  if (it == actions.end()) return false;
  swiped_.reset();
  swipedActions_.clear();
  auto keep = weak_from_this().lock();
  (*it)->trigger(indexPath);
  return true;
}

void UITableView::layoutSubviews() {
  UIScrollView::layoutSubviews();
  layingOut_ = true;
  ensureLoaded();
  layingOut_ = false;
  // Everything stacks at the table's width, in table order; the content is as tall as the stack.
  const CGFloat width = bounds().size.width;
  CGFloat y = 0;
  auto place = [&](UIView& view, CGFloat height) {
    view.setFrame(CGRect{{0, y}, {width, std::max<CGFloat>(0, height)}});
    y += view.frame().size.height;
  };
  auto fitting = [&](const UIView& view, CGFloat fallback) {
    CGFloat h = view.systemLayoutSizeFittingSize(CGSize{width, 0}).height;
    return h > 0 ? h : fallback;
  };
  auto sectionView = [](const std::vector<std::shared_ptr<UIView>>& views, int section) {
    auto index = static_cast<std::size_t>(section);
    return index < views.size() ? views[index] : nullptr;
  };
  if (tableHeaderView_) place(*tableHeaderView_, tableHeaderView_->frame().size.height);
  for (int s = 0; s < grid_.numberOfSections(); ++s) {
    if (auto header = sectionView(headerViews_, s)) place(*header, sectionHeaderHeight_);
    for (int r = 0; r < grid_.numberOfItems(s); ++r) {
      auto cell = grid_.cellAt(NSIndexPath{s, r});
      if (!cell) continue;
      const CGFloat fallback = estimatedRowHeight_ > 0 ? estimatedRowHeight_ : 44;
      // The cell is measured at the table's width, as it will show.
      cell->contentView()->setFrame(CGRect{{0, 0}, {width, cell->frame().size.height}});
      place(*cell, rowHeight_ == UITableViewAutomaticDimension ? fitting(*cell, fallback) : rowHeight_);
      cell->contentView()->setFrame(cell->bounds());
    }
    if (auto footer = sectionView(footerViews_, s)) place(*footer, sectionFooterHeight_);
  }
  if (tableFooterView_) place(*tableFooterView_, tableFooterView_->frame().size.height);
  setContentSize(CGSize{width, y});
}

void UITableView::render(TextCanvas& canvas) const {
  const_cast<UITableView*>(this)->ensureLoaded();
  UIScrollView::render(canvas);
}

void UITableView::renderSubviews(TextCanvas& canvas) const {
  // Other subviews (a refresh control) first; the table's own parts follow in table order.
  std::set<const UIView*> parts{tableHeaderView_.get(), tableFooterView_.get()};
  for (const auto& v : headerViews_) parts.insert(v.get());
  for (const auto& v : footerViews_) parts.insert(v.get());
  for (const auto& v : subviews()) {
    if (!grid_.isCell(v.get()) && !parts.count(v.get())) v->render(canvas);
  }
  if (tableHeaderView_) tableHeaderView_->render(canvas);
  auto ds = dataSource_.lock();
  auto* self = const_cast<UITableView*>(this);
  for (int s = 0; s < grid_.numberOfSections(); ++s) {
    auto index = static_cast<std::size_t>(s);
    std::string header;
    if (index < headerViews_.size() && headerViews_[index]) {
      header = renderOnOneLine(*headerViews_[index]);
    } else if (ds) {
      header = ds->titleForHeaderInSection(*self, s).value_or("");
    }
    if (!header.empty()) canvas.line("== " + header + " ==");
    for (int r = 0; r < grid_.numberOfItems(s); ++r) {
      NSIndexPath ip{s, r};
      std::string text = grid_.renderLine(ip);
      if (text.empty()) continue;
      if (swiped_ == ip) {
        text += " <" + joinedTitles(swipedActions_) + ">";
      } else if (!swipeTitles_.empty() && !editing_) {
        if (auto found = swipeTitles_.find(grid_.cellAt(ip).get()); found != swipeTitles_.end())
          text += " (swipe: " + found->second + ")";
      }
      canvas.line(text);
    }
    std::string footer;
    if (index < footerViews_.size() && footerViews_[index]) {
      footer = renderOnOneLine(*footerViews_[index]);
    } else if (ds) {
      footer = ds->titleForFooterInSection(*self, s).value_or("");
    }
    if (!footer.empty()) canvas.line("-- " + footer + " --");
  }
  if (tableFooterView_) tableFooterView_->render(canvas);
}
