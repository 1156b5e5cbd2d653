#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "controller_test_support.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_table_view_cell.h"
#include "platform/ui/ui_window.h"

namespace {

using A = NSLayoutAttribute;

struct Pin {
  A mine;
  A theirs;  // NotAnAttribute: a fixed size
  CGFloat constant;
  bool superviewFirst = false;
  CGFloat multiplier = 1;
};

TEST(ConstraintLayoutTest, EqualEdgeConstraintsToTheSuperviewGiveFrames) {
  struct Case {
    const char* what;
    std::vector<Pin> pins;
    CGRect expected;
  };
  const CGRect start{{1, 2}, {3, 4}};
  const std::vector<Case> cases{
      {"all four edges",
       {{A::Leading, A::Leading, 10},
        {A::Trailing, A::Trailing, -10},
        {A::Top, A::Top, 20},
        {A::Bottom, A::Bottom, -30}},
       {{10, 20}, {300, 430}}},
      {"superview as first item",
       {{A::Trailing, A::Trailing, 10, true}, {A::Width, A::NotAnAttribute, 100}, {A::Top, A::Bottom, -50}},
       {{210, 430}, {100, 4}}},
      {"centred at a fixed size",
       {{A::CenterX, A::CenterX, 0},
        {A::CenterY, A::CenterY, 0},
        {A::Width, A::NotAnAttribute, 100},
        {A::Height, A::NotAnAttribute, 40}},
       {{110, 220}, {100, 40}}},
      {"edge and centre", {{A::Left, A::Left, 60}, {A::CenterX, A::CenterX, 0}}, {{60, 2}, {200, 4}}},
      {"size from the superview",
       {{A::Width, A::Width, -20}, {A::Height, A::Height, 0}, {A::Right, A::Right, 0}},
       {{20, 2}, {300, 480}}},
      {"a multiplier or another axis is not understood",
       {{A::Width, A::Width, 0, false, 0.5}, {A::Top, A::Left, 5}},
       start},
  };
  for (const auto& c : cases) {
    auto super = UIView::make(CGRect{{0, 0}, {320, 480}});
    auto view = UIView::make(start);
    super->addSubview(view);
    for (const auto& p : c.pins) {
      auto other = p.theirs == A::NotAnAttribute ? nullptr : super;
      auto constraint = p.superviewFirst
                            ? NSLayoutConstraint::constraintWithItem(other, p.theirs, NSLayoutRelation::Equal, view,
                                                                     p.mine, p.multiplier, p.constant)
                            : NSLayoutConstraint::constraintWithItem(view, p.mine, NSLayoutRelation::Equal, other,
                                                                     p.theirs, p.multiplier, p.constant);
      NSLayoutConstraint::activateConstraints({constraint});
    }
    super->layoutIfNeeded();
    EXPECT_EQ(view->frame(), c.expected) << c.what;
  }
}

TEST(ConstraintLayoutTest, FramesFollowTheSuperviewAndLabelsTakeTheirFittingHeight) {
  auto super = UIView::make(CGRect{{0, 0}, {320, 480}});
  auto label = UILabel::make();
  label->setNumberOfLines(0);
  label->setText(std::string(120, 'x'));
  super->addSubview(label);
  auto guide = UIView::make();  // a controller's top layout guide: outside the tree
  auto edges = std::vector{
      NSLayoutConstraint::constraintWithItem(label, A::Leading, NSLayoutRelation::Equal, super, A::Leading, 1, 0),
      NSLayoutConstraint::constraintWithItem(label, A::Trailing, NSLayoutRelation::Equal, super, A::Trailing, 1, 0),
      NSLayoutConstraint::constraintWithItem(label, A::Top, NSLayoutRelation::Equal, guide, A::Bottom, 1, 8)};
  NSLayoutConstraint::activateConstraints(edges);
  super->layoutIfNeeded();
  const auto lineHeight = label->font().lineHeight();
  const int wide = label->lineCountForWidth(320);
  EXPECT_EQ(label->frame(), (CGRect{{0, 8}, {320, wide * lineHeight}}));

  super->setFrame(CGRect{{0, 0}, {160, 480}});
  EXPECT_TRUE(super->needsLayout()) << "a new size asks for layout";
  super->layoutIfNeeded();
  EXPECT_EQ(label->frame().size, (CGSize{160, label->lineCountForWidth(160) * lineHeight}));
  EXPECT_GT(label->lineCountForWidth(160), wide);

  NSLayoutConstraint::deactivateConstraints(edges);
  EXPECT_TRUE(super->constraints().empty());
  super->setFrame(CGRect{{0, 0}, {500, 480}});
  super->layoutIfNeeded();
  EXPECT_EQ(label->frame().size.width, 160) << "without constraints the frame stays";
}

// Counts how often layout takes its frame from its constraints (each time asks its size).
class CountedView : public UIView {
 public:
  CGSize intrinsicContentSize() const override {
    ++asked;
    return UIView::intrinsicContentSize();
  }
  void layoutSubviews() override {
    if (resize) resize();
  }
  mutable int asked = 0;
  std::function<void()> resize;
};

TEST(ConstraintLayoutTest, APassTakesEachFrameOnceUnlessALayoutSubviewsRanAboveIt) {
  // A chain of views, each inset by 1 from its superview, under a container with many rows pinned to it.
  auto root = UIView::make(CGRect{{0, 0}, {100, 100}});
  std::vector<std::shared_ptr<CountedView>> chain;
  std::shared_ptr<UIView> parent = root;
  for (int depth = 0; depth < 30; ++depth) {
    auto view = std::make_shared<CountedView>();
    parent->addSubview(view);
    for (auto [a, inset] : {std::pair{A::Leading, 1}, {A::Trailing, -1}, {A::Top, 1}, {A::Bottom, -1}}) {
      parent->addConstraint(
          NSLayoutConstraint::constraintWithItem(view, a, NSLayoutRelation::Equal, parent, a, 1, inset));
    }
    chain.push_back(view);
    parent = view;
  }
  std::vector<std::shared_ptr<CountedView>> rows;
  for (int i = 0; i < 10; ++i) {
    auto row = std::make_shared<CountedView>();
    chain[0]->addSubview(row);
    chain[0]->addConstraint(
        NSLayoutConstraint::constraintWithItem(row, A::Top, NSLayoutRelation::Equal, chain[0], A::Top, 1, 10 * i));
    chain[0]->addConstraint(NSLayoutConstraint::constraintWithItem(row, A::Height, NSLayoutRelation::Equal, nullptr,
                                                                   A::NotAnAttribute, 1, 5));
    rows.push_back(row);
  }
  root->layoutIfNeeded();
  EXPECT_EQ(chain.back()->frame(), (CGRect{{1, 1}, {40, 40}}));
  EXPECT_EQ(rows[9]->frame(), (CGRect{{0, 90}, {0, 5}}));
  for (const auto& view : chain) view->asked = 0;
  root->layoutIfNeeded();
  for (const auto& view : chain) EXPECT_EQ(view->asked, 0) << "nothing changed since";
  root->setFrame(CGRect{{5, 0}, {100, 100}});
  root->layoutIfNeeded();
  for (const auto& view : chain) EXPECT_EQ(view->asked, 2) << "width and height, once";

  // A layoutSubviews that leaves every frame where it is (a list placing its cells again), asked
  // for by a request alone: no frame is taken again.
  chain[5]->resize = [&] { chain[6]->setFrame(chain[6]->frame()); };
  chain[5]->setNeedsLayout();
  for (const auto& view : chain) view->asked = 0;
  root->layoutIfNeeded();
  for (const auto& view : chain) EXPECT_EQ(view->asked, 0);

  // A layoutSubviews that resizes a view: what lies under it follows in the same pass.
  chain[5]->resize = [&] { chain[6]->setFrame(CGRect{{0, 0}, {20, 20}}); };
  chain[5]->setNeedsLayout();
  root->layoutIfNeeded();
  EXPECT_EQ(chain[7]->frame(), (CGRect{{1, 1}, {18, 18}}));
  EXPECT_EQ(chain.back()->frame().size, (CGSize{0, 0}));

  // A row's constraint removed no longer pins it.
  chain[0]->removeConstraint(chain[0]->constraints()[4]);
  rows[0]->setFrame(CGRect{{3, 50}, {7, 5}});
  root->layoutIfNeeded();
  EXPECT_EQ(rows[0]->frame(), (CGRect{{3, 50}, {7, 5}}));
  EXPECT_EQ(rows[1]->frame().origin.y, 10);
}

// What a pass skips: frames nothing moved since they were taken. A constant that an earlier
// branch's layoutSubviews moves is followed in the same pass; a pinned view that a layoutSubviews
// moved by hand is put back by the next pass.
TEST(ConstraintLayoutTest, APassSkipsOnlyFramesNothingMovedSince) {
  auto root = std::make_shared<CountedView>();
  root->setFrame(CGRect{{0, 0}, {100, 100}});
  auto first = std::make_shared<CountedView>();
  auto later = UIView::make(CGRect{{0, 0}, {100, 100}});
  auto inner = UIView::make(CGRect{{0, 0}, {50, 50}});
  auto leaf = UIView::make();
  root->addSubview(first);
  root->addSubview(later);
  later->addSubview(inner);
  inner->addSubview(leaf);
  auto top = NSLayoutConstraint::constraintWithItem(leaf, A::Top, NSLayoutRelation::Equal, inner, A::Top, 1, 4);
  inner->addConstraint(top);
  root->addConstraint(NSLayoutConstraint::constraintWithItem(later, A::Top, NSLayoutRelation::Equal, root, A::Top, 1, 2));
  root->layoutIfNeeded();
  first->resize = [&] { top->setConstant(9); };
  first->setNeedsLayout();
  root->layoutIfNeeded();
  EXPECT_EQ(leaf->frame().origin.y, 9) << "in the same pass";

  root->resize = [&] { later->setFrame(CGRect{{0, 50}, {100, 100}}); };
  root->setNeedsLayout();
  root->layoutIfNeeded();
  root->resize = nullptr;
  root->setNeedsLayout();
  root->layoutIfNeeded();
  EXPECT_EQ(later->frame().origin.y, 2) << "put back by the next pass";
}

TEST(ConstraintLayoutTest, ConstraintsDeepInABranchPinWhereverTheBranchMoves) {
  auto root = UIView::make(CGRect{{0, 0}, {100, 100}});
  auto left = UIView::make(CGRect{{0, 0}, {50, 100}});
  auto right = UIView::make(CGRect{{50, 0}, {50, 100}});
  root->addSubview(left);
  root->addSubview(right);
  auto branch = UIView::make(CGRect{{0, 0}, {40, 40}});
  auto inner = UIView::make(CGRect{{0, 0}, {30, 30}});
  auto leaf = UIView::make();
  branch->addSubview(inner);
  inner->addSubview(leaf);
  // Held before the branch joins the tree.
  inner->addConstraint(NSLayoutConstraint::constraintWithItem(leaf, A::Leading, NSLayoutRelation::Equal, inner,
                                                              A::Leading, 1, 2));
  inner->addConstraint(
      NSLayoutConstraint::constraintWithItem(leaf, A::Width, NSLayoutRelation::Equal, nullptr, A::NotAnAttribute, 1, 10));
  const CGRect pinned{{2, 0}, {10, 0}};
  for (const auto& parent : {left, right, left}) {
    branch->removeFromSuperview();
    parent->addSubview(branch);
    leaf->setFrame({});
    root->layoutIfNeeded();
    EXPECT_EQ(leaf->frame(), pinned);
  }
  right->addSubview(branch);  // moved without leaving the tree
  leaf->setFrame({});
  root->layoutIfNeeded();
  EXPECT_EQ(leaf->frame(), pinned);

  // Once they are gone, nothing pins it.
  inner->removeConstraint(inner->constraints()[0]);
  inner->removeConstraint(inner->constraints()[0]);
  leaf->setFrame(CGRect{{7, 7}, {1, 1}});
  root->layoutIfNeeded();
  EXPECT_EQ(leaf->frame(), (CGRect{{7, 7}, {1, 1}}));
}

TEST(ConstraintLayoutTest, AWindowPassesOverAStillTreeAndSeesEveryKindOfChange) {
  auto window = UIWindow::make();
  window->setFrame(CGRect{{0, 0}, {320, 480}});
  auto box = std::make_shared<CountedView>();
  auto label = UILabel::make();
  label->setNumberOfLines(0);
  window->addSubview(box);
  box->addSubview(label);
  auto inset =
      NSLayoutConstraint::constraintWithItem(box, A::Leading, NSLayoutRelation::Equal, window, A::Leading, 1, 0);
  window->addConstraints({inset, NSLayoutConstraint::constraintWithItem(box, A::Trailing, NSLayoutRelation::Equal,
                                                                        window, A::Trailing, 1, 0)});
  for (auto a : {A::Leading, A::Trailing, A::Top}) {
    box->addConstraint(NSLayoutConstraint::constraintWithItem(label, a, NSLayoutRelation::Equal, box, a, 1, 0));
  }
  window->layoutOnScreenIfNeeded();
  window->layoutOnScreenIfNeeded();  // settles what the first pass moved
  box->asked = 0;
  window->layoutOnScreenIfNeeded();
  EXPECT_EQ(box->asked, 0) << "nothing changed: no pass";

  const auto lineHeight = label->font().lineHeight();
  label->setText("one");
  window->layoutOnScreenIfNeeded();
  EXPECT_EQ(label->frame().size.height, lineHeight);
  label->setText(std::string(300, 'w'));
  window->layoutOnScreenIfNeeded();
  EXPECT_EQ(label->frame().size.height, label->lineCountForWidth(320) * lineHeight);
  inset->setConstant(160);
  window->layoutOnScreenIfNeeded();
  EXPECT_EQ(label->frame().size, (CGSize{160, label->lineCountForWidth(160) * lineHeight}));
}

// Counts its label's lines in layoutSubviews, from the label's laid-out height.
class NoteCell : public UITableViewCell {
 public:
  explicit NoteCell(const NSCoder&) {}
  void awakeFromNib() override {
    label->setNumberOfLines(0);
    contentView()->addSubview(label);
    for (auto a : {A::Leading, A::Trailing, A::Top, A::Bottom}) {
      contentView()->addConstraint(
          NSLayoutConstraint::constraintWithItem(label, a, NSLayoutRelation::Equal, contentView(), a, 1, 0));
    }
  }
  void layoutSubviews() override {
    lines = static_cast<int>(std::lround(label->bounds().height() / label->font().lineHeight()));
  }

  std::shared_ptr<UILabel> label = UILabel::make();
  int lines = 0;
};

class Notes : public UITableViewDataSource {
 public:
  int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(texts.size()); }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& ip) override {
    auto cell = std::static_pointer_cast<NoteCell>(table.dequeueReusableCellWithIdentifier("note", ip));
    cell->label->setText(texts[static_cast<std::size_t>(ip.row)]);
    return cell;
  }
  std::vector<std::string> texts{"short", std::string(200, 'y')};
};

TEST(TableLayoutTest, RowsStackAtTheTableWidthWithFixedOrFittingHeights) {
  auto notes = std::make_shared<Notes>();
  auto table = UITableView::make(CGRect{{0, 0}, {200, 400}});
  table->registerClass<NoteCell>("note");
  table->setDataSource(notes);
  table->layoutIfNeeded();
  auto cell = [&](int row) { return std::static_pointer_cast<NoteCell>(table->cellForRowAtIndexPath({0, row})); };
  EXPECT_EQ(cell(0)->frame(), (CGRect{{0, 0}, {200, 44}}));
  EXPECT_EQ(cell(1)->frame(), (CGRect{{0, 44}, {200, 44}}));

  table->setRowHeight(UITableViewAutomaticDimension);
  table->reloadData();
  table->layoutIfNeeded();
  const int longLines = cell(1)->label->lineCountForWidth(200);
  ASSERT_GT(longLines, 1);
  const auto lineHeight = cell(0)->label->font().lineHeight();
  EXPECT_EQ(cell(0)->frame(), (CGRect{{0, 0}, {200, lineHeight}}));
  EXPECT_EQ(cell(1)->frame(), (CGRect{{0, lineHeight}, {200, longLines * lineHeight}}));
  EXPECT_EQ(cell(1)->contentView()->frame().size, cell(1)->frame().size);
  EXPECT_EQ(cell(1)->lines, longLines) << "the cell's own layout reads its laid-out label";
  EXPECT_EQ(table->contentSize().width, 200);
  EXPECT_DOUBLE_EQ(table->contentSize().height, (1 + longLines) * lineHeight);
}

class LayoutCounter : public Recorder {
 public:
  using Recorder::Recorder;
  void viewDidLayoutSubviews() override { note("viewDidLayoutSubviews"); }
};

TEST_F(ControllerTest, AWindowLaysOutTheControllersOnScreenThatNeedItAfterTheyAppeared) {
  auto window = UIWindow::make();
  auto screen = std::make_shared<LayoutCounter>("screen");
  window->setRootViewController(screen);
  window->makeKeyAndVisible();
  take();
  window->layoutOnScreenIfNeeded();
  EXPECT_TRUE(take().empty()) << "nothing needs layout";
  screen->view()->setNeedsLayout();
  window->layoutOnScreenIfNeeded();
  EXPECT_EQ(take(), std::vector<std::string>{"screen.viewDidLayoutSubviews"});
}

}  // namespace
