#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/cell_grid.h"
#include "platform/ui/ui_scroll_view.h"
#include "platform/ui/ui_table_view_cell.h"
#include "platform/ui/ui_table_view_row_action.h"

class UITableView;

enum class UITableViewStyle { Plain, Grouped };
enum class UITableViewRowAnimation { Fade, Right, Left, Top, Bottom, None, Middle, Automatic = 100 };
enum class UITableViewScrollPosition { None, Top, Middle, Bottom };
enum class UITableViewCellSeparatorStyle { None, SingleLine, SingleLineEtched };

// Row height that the cells' own content decides.
inline constexpr CGFloat UITableViewAutomaticDimension = -1;

class UITableViewDataSource {
 public:
  virtual ~UITableViewDataSource() = default;
  virtual int numberOfSectionsInTableView(UITableView&) { return 1; }
  virtual int numberOfRowsInSection(UITableView& tableView, int section) = 0;
  virtual std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView,
                                                                 const NSIndexPath& indexPath) = 0;
  virtual std::optional<std::string> titleForHeaderInSection(UITableView&, int) { return std::nullopt; }
  virtual std::optional<std::string> titleForFooterInSection(UITableView&, int) { return std::nullopt; }
  virtual bool canEditRowAtIndexPath(UITableView&, const NSIndexPath&) { return true; }
  virtual void commitEditingStyle(UITableView&, UITableViewCellEditingStyle, const NSIndexPath&) {}
};

// The table's delegate is also its scroll view's delegate.
class UITableViewDelegate : public UIScrollViewDelegate {
 public:
  // The row to select instead, or nothing to select none.
  virtual std::optional<NSIndexPath> willSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
    return indexPath;
  }
  virtual void didSelectRowAtIndexPath(UITableView&, const NSIndexPath&) {}
  virtual void didDeselectRowAtIndexPath(UITableView&, const NSIndexPath&) {}
  virtual std::shared_ptr<UIView> viewForHeaderInSection(UITableView&, int) { return nullptr; }
  virtual std::shared_ptr<UIView> viewForFooterInSection(UITableView&, int) { return nullptr; }
  // The buttons a swipe shows; nothing (the default) or an empty list shows none.
  virtual std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(
      UITableView&, const NSIndexPath&) {
    return std::nullopt;
  }
  virtual void willDisplayCell(UITableView&, UITableViewCell&, const NSIndexPath&) {}
};

// Rows in sections, asked of the data source. The first load happens on first need (layout,
// rendering or a query) after a data source is set; reloadData and the other reload and update
// calls ask again. Every row has a cell; cells are reused by identifier across reloads. Layout
// stacks the table header, each section's header view, rows and footer view, and the table
// footer at the table's width: a row is rowHeight tall, or as tall as its cell's fitting size
// with UITableViewAutomaticDimension.
class UITableView : public UIScrollView {
 public:
  using CellFactory = std::function<std::shared_ptr<UITableViewCell>()>;

  static std::shared_ptr<UITableView> make(CGRect frame = {}, UITableViewStyle style = UITableViewStyle::Plain);
  explicit UITableView(CGRect frame = {}, UITableViewStyle style = UITableViewStyle::Plain);
  explicit UITableView(const NSCoder&) : UITableView(CGRect{}) {}

  UITableViewStyle style() const { return style_; }

  std::shared_ptr<UITableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<UITableViewDataSource> dataSource);
  std::shared_ptr<UITableViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UITableViewDelegate> delegate);

  // Prototype cells (the storyboard's, or a class registration): the factory makes a bare cell;
  // the table sets its reuse identifier and calls awakeFromNib.
  void registerPrototype(const std::string& reuseIdentifier, CellFactory factory);
  template <class T>
  void registerClass(const std::string& reuseIdentifier) {
    registerPrototype(reuseIdentifier, [] { return std::make_shared<T>(NSCoder{}); });
  }
  // A reusable cell or a new one from the prototype; nullptr for an unknown identifier.
  std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
  // The same, but an unknown identifier stops the program.
  std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                     const NSIndexPath& indexPath);

  void reloadData();
  void reloadSections(const NSIndexSet& sections, UITableViewRowAnimation animation);
  void reloadRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
  void insertRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
  void deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
  void insertSections(const NSIndexSet& sections, UITableViewRowAnimation animation);
  void deleteSections(const NSIndexSet& sections, UITableViewRowAnimation animation);
  // Updates apply at once; the bracket is kept for the callers' shape.
  void beginUpdates() {}
  void endUpdates() {}

  int numberOfSections();
  int numberOfRowsInSection(int section);
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const NSIndexPath& indexPath);
  std::vector<std::shared_ptr<UITableViewCell>> visibleCells();
  std::vector<NSIndexPath> indexPathsForVisibleRows();
  std::optional<NSIndexPath> indexPathForCell(const UITableViewCell& cell);
  std::shared_ptr<UIView> headerViewForSection(int section);
  std::shared_ptr<UIView> footerViewForSection(int section);

  // Selection in code: no delegate calls.
  void selectRowAtIndexPath(std::optional<NSIndexPath> indexPath, bool animated, UITableViewScrollPosition position);
  void deselectRowAtIndexPath(const NSIndexPath& indexPath, bool animated);
  std::optional<NSIndexPath> indexPathForSelectedRow() const;
  std::vector<NSIndexPath> indexPathsForSelectedRows() const;
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool a) { allowsSelection_ = a; }
  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool a) { allowsMultipleSelection_ = a; }
  bool allowsSelectionDuringEditing() const { return allowsSelectionDuringEditing_; }
  void setAllowsSelectionDuringEditing(bool a) { allowsSelectionDuringEditing_ = a; }

  bool isEditing() const { return editing_; }
  void setEditing(bool editing, bool animated = false);

  CGFloat rowHeight() const { return rowHeight_; }
  void setRowHeight(CGFloat h) { rowHeight_ = h; }
  CGFloat estimatedRowHeight() const { return estimatedRowHeight_; }
  void setEstimatedRowHeight(CGFloat h) { estimatedRowHeight_ = h; }
  CGFloat sectionHeaderHeight() const { return sectionHeaderHeight_; }
  void setSectionHeaderHeight(CGFloat h) { sectionHeaderHeight_ = h; }
  CGFloat sectionFooterHeight() const { return sectionFooterHeight_; }
  void setSectionFooterHeight(CGFloat h) { sectionFooterHeight_ = h; }
  CGFloat estimatedSectionHeaderHeight() const { return estimatedSectionHeaderHeight_; }
  void setEstimatedSectionHeaderHeight(CGFloat h) { estimatedSectionHeaderHeight_ = h; }
  UITableViewCellSeparatorStyle separatorStyle() const { return separatorStyle_; }
  void setSeparatorStyle(UITableViewCellSeparatorStyle s) { separatorStyle_ = s; }
  const std::optional<UIColor>& separatorColor() const { return separatorColor_; }
  void setSeparatorColor(std::optional<UIColor> c) { separatorColor_ = std::move(c); }
  UIEdgeInsets separatorInset() const { return separatorInset_; }
  void setSeparatorInset(UIEdgeInsets i) { separatorInset_ = i; }

  const std::shared_ptr<UIView>& tableHeaderView() const { return tableHeaderView_; }
  void setTableHeaderView(std::shared_ptr<UIView> view);
  const std::shared_ptr<UIView>& tableFooterView() const { return tableFooterView_; }
  void setTableFooterView(std::shared_ptr<UIView> view);

  // User input. A tap on a row: tap recognisers first, then the delegate's selection calls
  // (a single-selection table deselects the previous row first). Refused (false) for a row that
  // does not exist or when the table cannot take touches.
  bool tapRowAtIndexPath(const NSIndexPath& indexPath);
  // A swipe on a row: the actions it shows (none when the row cannot be edited). The row stays
  // open until an action runs or another row is tapped. A row whose swipe would show actions
  // prints their titles, " (swipe: Quiz|Docs)", and an open row " <Quiz|Docs>"; the titles are
  // asked for with the row's cell.
  std::vector<std::shared_ptr<UITableViewRowAction>> swipeRowAtIndexPath(const NSIndexPath& indexPath);
  // Swipes the row and taps the action with that title; false when the row shows no such action.
  bool performRowAction(const NSIndexPath& indexPath, const std::string& title);
  std::optional<NSIndexPath> swipedIndexPath() const { return swiped_; }

  // For tests: how often everything was asked again, and how many cells were made and reused.
  int reloadDataCount() const { return grid_.reloadCount(); }
  int cellsCreated() const { return grid_.createdCount(); }
  int cellsReused() const { return grid_.reusedCount(); }

  void layoutSubviews() override;
  void render(TextCanvas& canvas) const override;

 protected:
  void renderSubviews(TextCanvas& canvas) const override;

 private:
  using Grid = ui_detail::CellGrid<UITableViewCell>;
  Grid::Source source();
  void ensureLoaded();
  void refreshSectionViews(const NSIndexSet* only);
  void setSectionView(std::vector<std::shared_ptr<UIView>>& views, int section, std::shared_ptr<UIView> view);
  void afterChange();
  // Notes the titles a swipe on the row would show, for printing; the actions themselves go.
  void noteSwipeTitles(const NSIndexPath& indexPath, const UITableViewCell& cell);

  UITableViewStyle style_;
  std::weak_ptr<UITableViewDataSource> dataSource_;
  std::weak_ptr<UITableViewDelegate> delegate_;
  Grid grid_;
  std::vector<std::shared_ptr<UIView>> headerViews_;
  std::vector<std::shared_ptr<UIView>> footerViews_;
  std::optional<NSIndexPath> swiped_;
  std::vector<std::shared_ptr<UITableViewRowAction>> swipedActions_;
  // The swipe titles of the cells of rows that have actions, "Quiz|Docs"; they move with the cells.
  std::unordered_map<const UITableViewCell*, std::string> swipeTitles_;
  bool allowsSelection_ = true;
  bool allowsMultipleSelection_ = false;
  bool allowsSelectionDuringEditing_ = false;
  bool editing_ = false;
  CGFloat rowHeight_ = 44;
  CGFloat estimatedRowHeight_ = 0;
  CGFloat sectionHeaderHeight_ = 28;
  CGFloat sectionFooterHeight_ = 28;
  CGFloat estimatedSectionHeaderHeight_ = 0;
  UITableViewCellSeparatorStyle separatorStyle_ = UITableViewCellSeparatorStyle::SingleLine;
  std::optional<UIColor> separatorColor_;
  UIEdgeInsets separatorInset_{0, 15, 0, 0};
  std::shared_ptr<UIView> tableHeaderView_;
  std::shared_ptr<UIView> tableFooterView_;
  bool layingOut_ = false;
};
