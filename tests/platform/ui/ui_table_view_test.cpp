#include "platform/ui/ui_table_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ui/render.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_refresh_control.h"
#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_window.h"

namespace {

class CountingCell : public UITableViewCell {
 public:
  explicit CountingCell(const NSCoder& c) : UITableViewCell(c) {}
  void awakeFromNib() override { ++awakened; }
  void prepareForReuse() override { ++reused; }
  int awakened = 0;
  int reused = 0;
};

// A table of named rows in sections, recording what the table asks.
class Rows : public UITableViewDataSource, public UITableViewDelegate {
 public:
  int numberOfSectionsInTableView(UITableView&) override { return static_cast<int>(sections.size()); }
  int numberOfRowsInSection(UITableView&, int section) override {
    return static_cast<int>(sections.at(static_cast<std::size_t>(section)).size());
  }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tv, const NSIndexPath& ip) override {
    asked.push_back(ip);
    auto cell = tv.dequeueReusableCellWithIdentifier("row", ip);
    cell->textLabel()->setText(sections.at(static_cast<std::size_t>(ip.section)).at(static_cast<std::size_t>(ip.row)));
    return cell;
  }
  std::optional<std::string> titleForHeaderInSection(UITableView&, int section) override {
    return "Section " + std::to_string(section);
  }
  bool canEditRowAtIndexPath(UITableView&, const NSIndexPath& ip) override { return ip.section != 0; }
  std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(
      UITableView&, const NSIndexPath&) override {
    auto quiz = UITableViewRowAction::rowActionWithStyle(
        UITableViewRowActionStyle::Normal, "Quiz",
        [this](UITableViewRowAction&, const NSIndexPath& ip) { actions.push_back("Quiz " + std::to_string(ip.row)); });
    auto docs = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Normal, "Docs", nullptr);
    docs->setBackgroundColor(UIColor::darkGrayColor());
    return std::vector{quiz, docs};
  }
  std::optional<NSIndexPath> willSelectRowAtIndexPath(UITableView&, const NSIndexPath& ip) override {
    if (ip == NSIndexPath{1, 2}) return std::nullopt;  // not selectable
    return ip;
  }
  void didSelectRowAtIndexPath(UITableView&, const NSIndexPath& ip) override { log.push_back("select " + name(ip)); }
  void didDeselectRowAtIndexPath(UITableView&, const NSIndexPath& ip) override {
    log.push_back("deselect " + name(ip));
  }

  static std::string name(const NSIndexPath& ip) { return std::to_string(ip.section) + "." + std::to_string(ip.row); }

  std::vector<std::vector<std::string>> sections{{"Intro"}, {"Algebra", "Geometry", "Locked"}};
  std::vector<NSIndexPath> asked;
  std::vector<std::string> log;
  std::vector<std::string> actions;
};

template <class Source = Rows>
struct Fixture {
  Fixture() {
    table->registerClass<CountingCell>("row");
    table->setDataSource(rows);
    table->setDelegate(rows);
  }
  std::shared_ptr<Source> rows = std::make_shared<Source>();
  std::shared_ptr<UITableView> table = UITableView::make();
};

std::string label(const std::shared_ptr<UITableViewCell>& cell) { return cell->textLabel()->text().value_or(""); }

}  // namespace

TEST(UITableViewTest, LoadsOnFirstNeedAndReusesCellsOnReload) {
  Fixture f;
  EXPECT_TRUE(f.rows->asked.empty());  // nothing asked before it is needed
  EXPECT_EQ(f.table->numberOfRowsInSection(1), 3);
  EXPECT_EQ(f.rows->asked.size(), 4u);
  auto geometry = std::static_pointer_cast<CountingCell>(f.table->cellForRowAtIndexPath({1, 1}));
  EXPECT_EQ(label(geometry), "Geometry");
  EXPECT_EQ(geometry->awakened, 1);
  EXPECT_EQ(geometry->superview(), f.table);

  f.rows->sections[1].pop_back();
  f.table->reloadData();
  EXPECT_EQ(f.table->numberOfRowsInSection(1), 2);
  // No new cell: all three come from the pool.
  EXPECT_EQ(std::pair(f.table->cellsCreated(), f.table->cellsReused()), std::pair(4, 3));
  EXPECT_EQ(f.table->visibleCells().size(), 3u);
  int prepared = 0;
  for (const auto& c : f.table->visibleCells()) prepared += std::static_pointer_cast<CountingCell>(c)->reused;
  EXPECT_EQ(prepared, 3);

  // Reloading one row asks for that row only; the others keep their cells.
  auto intro = f.table->cellForRowAtIndexPath({0, 0});
  f.rows->asked.clear();
  f.rows->sections[1][0] = "Calculus";
  f.table->reloadRowsAtIndexPaths({NSIndexPath{1, 0}}, UITableViewRowAnimation::None);
  EXPECT_EQ(f.rows->asked, (std::vector<NSIndexPath>{NSIndexPath{1, 0}}));
  EXPECT_EQ(label(f.table->cellForRowAtIndexPath({1, 0})), "Calculus");
  EXPECT_EQ(f.table->cellForRowAtIndexPath({0, 0}), intro);

  EXPECT_EQ(f.table->dequeueReusableCellWithIdentifier("unknown"), nullptr);
  EXPECT_DEATH(f.table->dequeueReusableCellWithIdentifier("unknown", NSIndexPath{0, 0}), "unknown");
}

TEST(UITableViewTest, AReloadGivesEachRowTheCellItShowedInRowOrder) {
  Fixture f;
  auto cells = [&] {
    std::vector<std::shared_ptr<UITableViewCell>> shown;
    for (int s = 0; s < f.table->numberOfSections(); ++s)
      for (int r = 0; r < f.table->numberOfRowsInSection(s); ++r)
        shown.push_back(f.table->cellForRowAtIndexPath({s, r}));
    return shown;
  };
  const auto before = cells();
  for (int i = 0; i < 3; ++i) f.table->reloadData();
  EXPECT_EQ(cells(), before);
  // Fewer rows: the first rows keep theirs, the last one leaves; the subviews stay in row order.
  f.rows->sections[1].pop_back();
  f.table->reloadData();
  EXPECT_EQ(cells(), std::vector(before.begin(), before.end() - 1));
  EXPECT_EQ(before.back()->superview(), nullptr);
  f.rows->sections[1].push_back("Trigonometry");
  f.rows->sections[1].push_back("Statistics");
  f.table->reloadData();
  const auto after = cells();
  EXPECT_EQ(after[3], before.back()) << "the pooled cell comes back first";
  std::vector<std::shared_ptr<UIView>> subviews;
  for (const auto& v : f.table->subviews())
    if (std::find(after.begin(), after.end(), v) != after.end()) subviews.push_back(v);
  EXPECT_EQ(subviews, std::vector<std::shared_ptr<UIView>>(after.begin(), after.end()));

  // Reloading every row keeps the cells too.
  f.table->reloadRowsAtIndexPaths({{0, 0}, {1, 0}, {1, 1}, {1, 2}, {1, 3}}, UITableViewRowAnimation::None);
  EXPECT_EQ(cells(), after);
}

TEST(UITableViewTest, AReloadKeepsCellsInRowOrderAndEndsTheEditingInItsRows) {
  // Rows of two kinds of cell, by the first letter of their text.
  struct Kinds : UITableViewDataSource {
    int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(texts.size()); }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tv, const NSIndexPath& ip) override {
      const auto& text = texts.at(static_cast<std::size_t>(ip.row));
      auto cell = tv.dequeueReusableCellWithIdentifier(text.substr(0, 1), ip);
      cell->textLabel()->setText(text);
      return cell;
    }
    std::vector<std::string> texts{"x1", "y1", "x2"};
  };
  auto rows = std::make_shared<Kinds>();
  auto window = UIWindow::make();
  auto table = UITableView::make();
  window->addSubview(table);
  for (const char* kind : {"x", "y"}) table->registerClass<UITableViewCell>(kind);
  table->setDataSource(rows);
  auto inRowOrder = [&] {
    std::vector<std::shared_ptr<UIView>> cells, subviews;
    for (int r = 0; r < table->numberOfRowsInSection(0); ++r) cells.push_back(table->cellForRowAtIndexPath({0, r}));
    for (const auto& v : table->subviews())
      if (std::find(cells.begin(), cells.end(), v) != cells.end()) subviews.push_back(v);
    return subviews == cells;
  };
  ASSERT_TRUE(inRowOrder());
  rows->texts = {"y1", "x1", "x2"};
  table->reloadData();
  EXPECT_TRUE(inRowOrder());

  auto field = UITextField::make();
  table->cellForRowAtIndexPath({0, 2})->contentView()->addSubview(field);
  ASSERT_TRUE(field->becomeFirstResponder());
  table->reloadData();
  EXPECT_FALSE(field->isFirstResponder()) << "a reload ends the editing in its rows, as it did";
  EXPECT_TRUE(inRowOrder());
}

TEST(UITableViewTest, InsertAndDeleteMoveCellsAndSelection) {
  Fixture f;
  f.table->reloadData();
  auto algebra = f.table->cellForRowAtIndexPath({1, 0});
  auto geometry = f.table->cellForRowAtIndexPath({1, 1});
  f.table->selectRowAtIndexPath(NSIndexPath{1, 1}, false, UITableViewScrollPosition::None);

  f.rows->sections[1].insert(f.rows->sections[1].begin(), "Arithmetic");
  f.rows->asked.clear();
  f.table->insertRowsAtIndexPaths({NSIndexPath{1, 0}}, UITableViewRowAnimation::Automatic);
  EXPECT_EQ(f.rows->asked, (std::vector<NSIndexPath>{NSIndexPath{1, 0}}));
  EXPECT_EQ(f.table->cellForRowAtIndexPath({1, 1}), algebra);
  EXPECT_EQ(f.table->cellForRowAtIndexPath({1, 2}), geometry);
  EXPECT_EQ(f.table->indexPathForSelectedRow(), (NSIndexPath{1, 2}));
  EXPECT_TRUE(geometry->isSelected());

  f.rows->sections[1].erase(f.rows->sections[1].begin() + 1);
  f.table->deleteRowsAtIndexPaths({NSIndexPath{1, 1}}, UITableViewRowAnimation::Automatic);
  EXPECT_EQ(f.table->cellForRowAtIndexPath({1, 1}), geometry);
  EXPECT_EQ(f.table->indexPathForCell(*algebra), std::nullopt);
  EXPECT_EQ(algebra->superview(), nullptr);

  f.rows->sections.erase(f.rows->sections.begin());
  f.table->deleteSections({0}, UITableViewRowAnimation::Automatic);
  EXPECT_EQ(f.table->numberOfSections(), 1);
  EXPECT_EQ(f.table->cellForRowAtIndexPath({0, 1}), geometry);
  EXPECT_EQ(f.table->indexPathForSelectedRow(), (NSIndexPath{0, 1}));
}

TEST(UITableViewTest, UserSelectionCallsTheDelegate) {
  Fixture f;
  auto root = UIView::make();
  root->addSubview(f.table);
  int keyboardHides = 0;
  auto hide = UITapGestureRecognizer::make([&](UIGestureRecognizer&) { ++keyboardHides; });
  hide->setCancelsTouchesInView(false);
  root->addGestureRecognizer(hide);

  EXPECT_TRUE(f.table->tapRowAtIndexPath({1, 0}));
  EXPECT_TRUE(f.table->tapRowAtIndexPath({1, 1}));
  EXPECT_TRUE(f.table->tapRowAtIndexPath({1, 1}));   // again: selected again, nothing deselected
  EXPECT_TRUE(f.table->tapRowAtIndexPath({1, 2}));   // the delegate refuses the row
  EXPECT_FALSE(f.table->tapRowAtIndexPath({1, 3}));  // no such row
  EXPECT_EQ(f.rows->log, (std::vector<std::string>{"select 1.0", "deselect 1.0", "select 1.1", "select 1.1"}));
  EXPECT_EQ(keyboardHides, 4);
  EXPECT_TRUE(f.table->cellForRowAtIndexPath({1, 1})->isSelected());
  EXPECT_FALSE(f.table->cellForRowAtIndexPath({1, 0})->isSelected());

  f.rows->log.clear();
  f.table->setAllowsMultipleSelection(true);
  f.table->tapRowAtIndexPath({1, 0});
  f.table->tapRowAtIndexPath({1, 1});  // already selected: a second tap deselects
  EXPECT_EQ(f.rows->log, (std::vector<std::string>{"select 1.0", "deselect 1.1"}));

  f.rows->log.clear();
  f.table->setHidden(true);
  EXPECT_FALSE(f.table->tapRowAtIndexPath({1, 1}));
  f.table->setHidden(false);
  f.table->setAllowsSelection(false);
  f.table->tapRowAtIndexPath({1, 1});
  EXPECT_TRUE(f.rows->log.empty());

  f.table->reloadData();  // a reload forgets the selection
  EXPECT_TRUE(f.table->indexPathsForSelectedRows().empty());
}

TEST(UITableViewTest, SwipedRowsOfferTheDelegatesActions) {
  Fixture f;
  EXPECT_TRUE(f.table->swipeRowAtIndexPath({0, 0}).empty());  // not editable
  auto actions = f.table->swipeRowAtIndexPath({1, 1});
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0]->backgroundColor(), UIColor::lightGrayColor());
  EXPECT_EQ(f.table->swipedIndexPath(), (NSIndexPath{1, 1}));

  // A tap on a row while one is open only closes it.
  f.table->tapRowAtIndexPath({1, 0});
  EXPECT_TRUE(f.rows->log.empty());
  EXPECT_EQ(f.table->swipedIndexPath(), std::nullopt);

  EXPECT_TRUE(f.table->performRowAction({1, 2}, "Quiz"));
  EXPECT_EQ(f.rows->actions, std::vector<std::string>{"Quiz 2"});
  EXPECT_TRUE(f.table->performRowAction({1, 2}, "Docs"));  // no handler: nothing happens, no crash
  EXPECT_FALSE(f.table->performRowAction({1, 2}, "Delete"));
  EXPECT_FALSE(f.table->performRowAction({0, 0}, "Quiz"));
}

// Actions named after the row as it was when asked, whose handlers hold a "screen"; "Locked" has none.
struct NamedActions : Rows {
  std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(
      UITableView&, const NSIndexPath& ip) override {
    const auto& row = sections.at(static_cast<std::size_t>(ip.section)).at(static_cast<std::size_t>(ip.row));
    asked.push_back(ip);
    if (row == "Locked") return std::nullopt;
    auto screen = std::make_shared<int>(0);
    screens.push_back(screen);
    return std::vector{UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Normal, "Open " + row,
                                                                [screen](UITableViewRowAction&, const NSIndexPath&) {})};
  }
  std::vector<std::weak_ptr<int>> screens;
};

TEST(UITableViewTest, RowsNameTheirSwipeActionsAskedOncePerReloadWithoutKeepingThem) {
  Fixture<NamedActions> f;
  auto text = [&] {
    TextCanvas canvas;
    f.table->render(canvas);
    return canvas.text();
  };
  text();
  f.rows->sections[1][1] = "Geometry II";
  f.table->reloadRowsAtIndexPaths({NSIndexPath{1, 1}}, UITableViewRowAnimation::None);
  f.rows->sections[1].insert(f.rows->sections[1].begin(), "Arithmetic");
  f.table->insertRowsAtIndexPaths({NSIndexPath{1, 0}}, UITableViewRowAnimation::None);
  const std::string shown =
      "== Section 0 ==\n0.0. Intro\n== Section 1 ==\n1.0. Arithmetic (swipe: Open Arithmetic)\n"
      "1.1. Algebra (swipe: Open Algebra)\n1.2. Geometry II (swipe: Open Geometry II)\n1.3. Locked\n";
  EXPECT_EQ(text(), shown);
  // Cells and actions are asked together, however often the table renders: the first load (4 cells,
  // 3 editable rows), the reloaded row and the inserted one; the other titles move with their rows.
  EXPECT_EQ(f.rows->asked.size(), 4 + 3 + 2 + 2u);
  EXPECT_TRUE(std::all_of(f.rows->screens.begin(), f.rows->screens.end(), [](const auto& s) { return s.expired(); }));
  f.table->setEditing(true);  // no swipes then
  EXPECT_EQ(text().find("swipe"), std::string::npos);
}

TEST(UITableViewTest, SectionHeaderViewsFollowTheSectionsAndRefreshHooksUp) {
  struct Headers : Rows {
    std::shared_ptr<UIView> viewForHeaderInSection(UITableView&, int section) override {
      ++asked;
      if (section == 0) return nullptr;
      auto title = UILabel::make();
      title->setText("Curricula");
      return title;
    }
    int asked = 0;
  };
  Fixture<Headers> f;
  auto& table = f.table;
  EXPECT_EQ(table->headerViewForSection(0), nullptr);
  auto header = table->headerViewForSection(1);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->superview(), table);
  table->reloadRowsAtIndexPaths({NSIndexPath{1, 0}}, UITableViewRowAnimation::None);
  EXPECT_EQ(table->headerViewForSection(1), header);  // rows alone do not ask again
  f.rows->sections.pop_back();
  table->reloadData();
  EXPECT_EQ(f.rows->asked, 3);
  EXPECT_EQ(header->superview(), nullptr);
  EXPECT_EQ(table->headerViewForSection(1), nullptr);

  auto refresh = UIRefreshControl::make();
  table->setRefreshControl(refresh);
  EXPECT_TRUE(table->pullToRefresh());
  TextCanvas canvas;
  table->render(canvas);
  EXPECT_EQ(canvas.text(), "(refreshing)\n== Section 0 ==\n0. Intro\n");  // no view: the title
}

TEST(UITableViewTest, RendersHeadersRowsAndStates) {
  Fixture f;
  f.table->setAccessibilityIdentifier("lessons");
  f.table->reloadData();
  f.table->cellForRowAtIndexPath({1, 0})->setAccessoryType(UITableViewCellAccessoryType::Checkmark);
  f.table->tapRowAtIndexPath({1, 1});
  f.table->swipeRowAtIndexPath({1, 0});
  auto footer = UILabel::make();
  footer->setText("2 lessons");
  f.table->setTableFooterView(footer);

  TextCanvas canvas;
  f.table->render(canvas);
  EXPECT_EQ(canvas.text(),
            "== Section 0 ==\n"
            "0.0. Intro\n"
            "== Section 1 ==\n"
            "1.0. Algebra | \u2713 <Quiz|Docs>\n"
            "1.1. Geometry (selected) (swipe: Quiz|Docs)\n"
            "1.2. Locked (swipe: Quiz|Docs)\n"
            "2 lessons\n");
}

TEST(UITableViewCellTest, StandardPartsAreMadeInTheirPlacesWhenFirstAskedFor) {
  auto cell = UITableViewCell::make(UITableViewCellStyle::Subtitle, "row");
  EXPECT_EQ(cell->separatorInset(), (UIEdgeInsets{0, 15, 0, 0}));
  EXPECT_EQ(cell->accessoryView(), nullptr);
  cell->setAccessoryView(nullptr);
  auto detail = cell->detailTextLabel();
  auto title = cell->textLabel();
  auto image = cell->imageView();
  const std::vector<std::shared_ptr<UIView>> order{image, title, detail};
  EXPECT_EQ(cell->contentView()->subviews(), order);
  EXPECT_EQ(std::tuple(cell->textLabel(), cell->detailTextLabel(), cell->imageView()),
            std::tuple(title, detail, image));

  auto first = UIView::make();
  auto second = UIView::make();
  cell->setAccessoryView(first);
  cell->setAccessoryView(second);
  EXPECT_EQ(first->superview(), nullptr);
  EXPECT_EQ(second->superview(), cell);
  EXPECT_EQ(cell->accessoryView(), second);
  cell->setSeparatorInset({0, 0, 0, 0});
  EXPECT_EQ(cell->separatorInset(), (UIEdgeInsets{}));

  // Cells share their identifiers' text without sharing the identifier itself.
  auto other = UITableViewCell::make(UITableViewCellStyle::Default, "row");
  EXPECT_EQ(other->detailTextLabel(), nullptr);
  other->setReuseIdentifier("another");
  EXPECT_EQ(std::pair(cell->reuseIdentifier(), other->reuseIdentifier()),
            std::pair(std::optional<std::string>("row"), std::optional<std::string>("another")));
  other->setReuseIdentifier(std::nullopt);
  EXPECT_EQ(other->reuseIdentifier(), std::nullopt);
}
