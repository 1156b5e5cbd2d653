#include "platform/ui/ui_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_text_field.h"

namespace {

// Stands in for the progress overlay: covers what was added to the window before it.
class Overlay : public UIView {
 public:
  Overlay() { mayBlockTouchesBeneath(); }
  bool blocksTouchesBeneath() const override { return blocking; }
  bool blocking = true;
};

}  // namespace

TEST(UIViewTest, TreeMovesViewsAndRefusesCycles) {
  using Views = std::vector<std::shared_ptr<UIView>>;
  auto a = UIView::make();
  auto b = UIView::make();
  auto child = UIView::make();
  a->addSubview(child);
  b->addSubview(child);  // moves
  b->addSubview(child);  // again: stays once
  EXPECT_TRUE(a->subviews().empty());
  EXPECT_EQ(b->subviews(), Views{child});
  EXPECT_EQ(child->superview(), b);

  child->addSubview(b);  // b is child's ancestor: refused
  EXPECT_EQ(b->superview(), nullptr);
  EXPECT_TRUE(child->subviews().empty());

  auto second = UIView::make();
  b->insertSubview(second, 0);
  EXPECT_EQ(b->subviews(), (Views{second, child}));
  b->bringSubviewToFront(second);
  EXPECT_EQ(b->subviews(), (Views{child, second}));
  b->bringSubviewToFront(b->subviews().front());  // an element of the list that moves
  EXPECT_EQ(b->subviews(), (Views{second, child}));
  b->bringSubviewToFront(b->subviews().front());

  child->setTag(7);
  child->setAccessibilityIdentifier("target");
  EXPECT_EQ(b->viewWithTag(7), child);
  EXPECT_EQ(b->viewWithAccessibilityIdentifier("target"), child);
  child->setHidden(true);
  EXPECT_EQ(b->viewWithAccessibilityIdentifier("target"), nullptr);

  child->removeFromSuperview();
  EXPECT_EQ(child->superview(), nullptr);
  EXPECT_EQ(b->subviews(), Views{second});
}

TEST(UIViewTest, ASubviewThatOutlivesItsSuperviewIsFreeToJoinAnother) {
  auto kept = UIView::make();
  auto inner = UIView::make();
  kept->addSubview(inner);
  {
    auto parent = UIView::make();
    parent->addSubview(kept);
    EXPECT_EQ(kept->superview(), parent);
  }
  EXPECT_EQ(kept->superview(), nullptr);
  EXPECT_EQ(inner->superview(), kept);  // the rest of its tree stays
  auto other = UIView::make();
  other->addSubview(kept);
  EXPECT_TRUE(inner->isDescendantOfView(*other));

  // A view that no shared pointer owns is nobody's superview.
  UIView unowned;
  auto loose = UIView::make();
  unowned.addSubview(loose);
  EXPECT_EQ(loose->superview(), nullptr);
}

TEST(UIViewTest, TakingSubviewsOutKeepsTheRestInOrderWhateverComesNext) {
  using Views = std::vector<std::shared_ptr<UIView>>;
  auto make = [](int n) {
    Views views;
    for (int i = 0; i < n; ++i) views.push_back(UIView::make());
    return views;
  };
  auto parent = UIView::make();
  auto v = make(6);
  for (const auto& view : v) parent->addSubview(view);
  v[1]->removeFromSuperview();
  v[3]->removeFromSuperview();
  v[5]->removeFromSuperview();  // the last, with gaps before it
  EXPECT_EQ(parent->subviews(), (Views{v[0], v[2], v[4]}));

  // Positions count the views shown, also right after one is taken out.
  auto x = UIView::make();
  v[0]->removeFromSuperview();
  parent->insertSubview(x, 1);
  EXPECT_EQ(parent->subviews(), (Views{v[2], x, v[4]}));
  x->removeFromSuperview();
  parent->bringSubviewToFront(v[2]);
  EXPECT_EQ(parent->subviews(), (Views{v[4], v[2]}));
  v[4]->removeFromSuperview();
  parent->addSubview(v[2]);
  parent->addSubview(v[0]);
  EXPECT_EQ(parent->subviews(), (Views{v[2], v[0]}));

  // A list reloaded: each view taken out from the front and added again at the end, many times.
  auto rows = make(300);
  auto list = UIView::make();
  for (const auto& row : rows) list->addSubview(row);
  for (int pass = 0; pass < 3; ++pass) {
    for (const auto& row : rows) {
      row->removeFromSuperview();
      list->addSubview(row);
    }
  }
  EXPECT_EQ(list->subviews(), rows);
  // Moved to another view while gaps are open; then taken out of that one.
  rows[0]->removeFromSuperview();
  parent->addSubview(rows[1]);
  rows[299]->removeFromSuperview();
  EXPECT_EQ(list->subviews(), Views(rows.begin() + 2, rows.end() - 1));
  rows[1]->removeFromSuperview();
  EXPECT_EQ(parent->subviews(), (Views{v[2], v[0]}));

  // A view held by one being made (which it does not point back to) and by another: the first's
  // changes leave the second able to let it go.
  UIView unowned;
  auto shared = UIView::make();
  unowned.addSubview(shared);
  parent->addSubview(shared);
  unowned.insertSubview(UIView::make(), 0);
  shared->removeFromSuperview();
  EXPECT_EQ(parent->subviews(), (Views{v[2], v[0]}));
}

TEST(UIViewTest, BoundsFollowTheFrameSizeAndKeepTheirOwnOrigin) {
  auto view = UIView::make(CGRectMake(10, 20, 100, 50));
  EXPECT_EQ(view->bounds(), CGRectMake(0, 0, 100, 50));
  view->setBounds(CGRectMake(0, 30, 80, 50));  // the centre stays
  EXPECT_EQ(view->frame(), CGRectMake(20, 20, 80, 50));
  view->setFrame(CGRectMake(0, 0, 60, 40));
  EXPECT_EQ(view->bounds(), CGRectMake(0, 30, 60, 40));
  view->setBounds(CGRectMake(0, 0, 60, 40));
  EXPECT_EQ(view->bounds(), CGRectMake(0, 0, 60, 40));
}

TEST(UIViewTest, TintColorComesFromTheNearestAncestorThatHasOne) {
  auto root = UIView::make();
  auto middle = UIView::make();
  auto leaf = UIView::make();
  root->addSubview(middle);
  middle->addSubview(leaf);
  EXPECT_EQ(leaf->tintColor(), UIColor::systemTintColor());
  root->setTintColor(UIColor::redColor());
  EXPECT_EQ(leaf->tintColor(), UIColor::redColor());
  middle->setTintColor(UIColor::greenColor());
  EXPECT_EQ(leaf->tintColor(), UIColor::greenColor());
  middle->setTintColor(std::nullopt);
  EXPECT_EQ(leaf->tintColor(), UIColor::redColor());
  leaf->removeFromSuperview();
  EXPECT_EQ(leaf->tintColor(), UIColor::systemTintColor());
}

TEST(UIViewTest, TouchesNeedAVisibleInteractiveChainAndNoOverlayOnTop) {
  auto root = UIView::make();
  auto container = UIView::make();
  auto target = UIView::make();
  root->addSubview(container);
  container->addSubview(target);
  EXPECT_TRUE(target->canReceiveTouches());

  container->setHidden(true);
  EXPECT_FALSE(target->canReceiveTouches());
  EXPECT_FALSE(target->isVisibleInTree());
  container->setHidden(false);
  container->setUserInteractionEnabled(false);
  EXPECT_FALSE(target->canReceiveTouches());
  EXPECT_TRUE(target->isVisibleInTree());
  container->setUserInteractionEnabled(true);
  container->setAlpha(0);
  EXPECT_FALSE(target->canReceiveTouches());
  container->setAlpha(1);

  auto overlay = std::make_shared<Overlay>();
  root->addSubview(overlay);
  EXPECT_FALSE(target->canReceiveTouches());
  auto onOverlay = UIView::make();
  overlay->addSubview(onOverlay);
  EXPECT_TRUE(onOverlay->canReceiveTouches());  // the overlay's own content stays usable
  overlay->setHidden(true);
  EXPECT_TRUE(target->canReceiveTouches());
  overlay->setHidden(false);
  overlay->blocking = false;
  EXPECT_TRUE(target->canReceiveTouches());
  overlay->blocking = true;
  root->bringSubviewToFront(container);  // the branch now lies above the overlay
  EXPECT_TRUE(target->canReceiveTouches());

  // An overlay deep in a later branch covers too, unless that branch is hidden; one that is gone
  // covers nothing.
  auto branch = UIView::make();
  root->addSubview(branch);
  branch->addSubview(UIView::make());
  branch->subviews().front()->addSubview(std::make_shared<Overlay>());
  EXPECT_FALSE(target->canReceiveTouches());
  branch->subviews().front()->setHidden(true);
  EXPECT_TRUE(target->canReceiveTouches());
  branch->subviews().front()->setHidden(false);
  branch->removeFromSuperview();
  overlay->removeFromSuperview();
  overlay.reset();
  branch.reset();
  EXPECT_TRUE(target->canReceiveTouches());
}

TEST(UIViewTest, OneFirstResponderPerTreeAndLeavingTheTreeResigns) {
  auto window = UIView::make();
  auto first = UITextField::make();
  auto second = UITextField::make();
  window->addSubview(first);
  window->addSubview(second);

  EXPECT_TRUE(first->becomeFirstResponder());
  EXPECT_TRUE(second->becomeFirstResponder());
  EXPECT_FALSE(first->isFirstResponder());
  EXPECT_EQ(window->currentFirstResponder(), second);

  // Another tree has its own first responder.
  auto other = UIView::make();
  auto elsewhere = UITextField::make();
  other->addSubview(elsewhere);
  EXPECT_TRUE(elsewhere->becomeFirstResponder());
  EXPECT_TRUE(second->isFirstResponder());

  // Moving a tree with a first responder into one that has its own: the newcomer resigns.
  window->addSubview(other);
  EXPECT_TRUE(second->isFirstResponder());
  EXPECT_FALSE(elsewhere->isFirstResponder());

  second->removeFromSuperview();
  EXPECT_FALSE(second->isFirstResponder());
  EXPECT_FALSE(second->isEditing());
  EXPECT_EQ(window->currentFirstResponder(), nullptr);

  // A plain view never becomes first responder.
  EXPECT_FALSE(window->becomeFirstResponder());

  EXPECT_TRUE(first->becomeFirstResponder());
  EXPECT_TRUE(window->endEditing(false));
  EXPECT_FALSE(first->isFirstResponder());
}

TEST(UIViewTest, LayoutRunsOnMarkedViewsOnly) {
  struct Counting : UIView {
    void layoutSubviews() override {
      ++passes;
      if (then) then();
    }
    int passes = 0;
    std::function<void()> then;
  };
  auto root = std::make_shared<Counting>();
  auto child = std::make_shared<Counting>();
  root->addSubview(child);
  root->layoutIfNeeded();
  EXPECT_EQ(root->passes + child->passes, 0);
  child->setNeedsLayout();
  child->setNeedsLayout();
  root->layoutIfNeeded();
  EXPECT_EQ(child->passes, 1);
  EXPECT_EQ(root->passes, 0);
  root->layoutIfNeeded();
  EXPECT_EQ(child->passes, 1);

  // Marks deep down reach a pass from the root: made in a branch before it joins the tree, made
  // by a layoutSubviews on a view the pass has left behind (the next pass runs it), or by a size.
  auto branch = UIView::make();
  auto deep = std::make_shared<Counting>();
  branch->addSubview(UIView::make());
  branch->subviews().front()->addSubview(deep);
  deep->setNeedsLayout();
  child->addSubview(branch);
  auto later = std::make_shared<Counting>();
  root->addSubview(later);
  later->setNeedsLayout();
  later->then = [&] { deep->setNeedsLayout(); };
  root->layoutIfNeeded();
  EXPECT_EQ(std::pair(deep->passes, later->passes), std::pair(1, 1));
  later->then = nullptr;
  root->layoutIfNeeded();
  EXPECT_EQ(deep->passes, 2);
  deep->setFrame(CGRect{{0, 0}, {5, 5}});
  root->layoutIfNeeded();
  EXPECT_EQ(deep->passes, 3);

  bool ranInside = true;
  UIView::performWithoutAnimation([&] { ranInside = UIView::areAnimationsEnabled(); });
  EXPECT_FALSE(ranInside);
  EXPECT_TRUE(UIView::areAnimationsEnabled());
}

TEST(UIViewTest, RenderingWritesVisibleViewsInTreeOrder) {
  auto root = UIView::make();
  auto title = UILabel::make();
  title->setText("Welcome\nback");
  auto hiddenBox = UIView::make();
  auto hiddenLabel = UILabel::make();
  hiddenLabel->setText("secret");
  hiddenBox->addSubview(hiddenLabel);
  hiddenBox->setHidden(true);
  auto email = UITextField::make();
  email->setAccessibilityIdentifier("email");
  email->setPlaceholder("E-mail");
  auto password = UITextField::make();
  password->setAccessibilityIdentifier("password");
  password->setSecureTextEntry(true);
  password->setText("p\u00e4ss");
  auto login = UIButton::make();
  login->setAccessibilityIdentifier("login");
  login->setTitle("Sign in", UIControlState::Normal);
  login->setEnabled(false);
  auto logo = UIImageView::make(UIImage::make({10, 10}));
  for (const auto& v : std::vector<std::shared_ptr<UIView>>{title, hiddenBox, email, password, login, logo}) {
    root->addSubview(v);
  }
  password->becomeFirstResponder();

  TextCanvas canvas;
  root->render(canvas);
  EXPECT_EQ(canvas.text(),
            "Welcome\n"
            "back\n"
            "{(E-mail)} #email\n"
            "{\u2022\u2022\u2022\u2022|} #password\n"
            "[Sign in] #login (disabled)\n"
            "(image: image 10x10)\n");
}

TEST(UIViewTest, RarelySetValuesReadBackAndClearWhateverElseTheViewHolds) {
  auto root = UIView::make();
  auto view = UIView::make();
  root->addSubview(view);
  // A colour gives the view some of its extras, not all of them.
  view->setBackgroundColor(UIColor::redColor());
  EXPECT_EQ(std::tuple(view->accessibilityIdentifier(), view->ownTintColor(), view->gestureRecognizers().size()),
            std::tuple(std::string(), std::optional<UIColor>(), std::size_t{0}));
  EXPECT_EQ(view->nextResponder(), root);
  view->removeGestureRecognizer(UITapGestureRecognizer::make());
  EXPECT_FALSE(view->isFirstResponder());

  view->setAccessibilityIdentifier("card");
  EXPECT_EQ(root->viewWithAccessibilityIdentifier("card"), view);
  view->setAccessibilityIdentifier("");
  view->setBackgroundColor(std::nullopt);
  EXPECT_EQ(root->viewWithAccessibilityIdentifier("card"), nullptr);
  EXPECT_EQ(view->backgroundColor(), std::nullopt);

  // The layer reads as the plain one until it is touched.
  auto plain = UIView::make();
  plain->setClipsToBounds(false);
  EXPECT_EQ(std::pair(plain->clipsToBounds(), plain->layer().cornerRadius), std::pair(false, CGFloat{0}));
  plain->setClipsToBounds(true);
  plain->layer().cornerRadius = 3;
  EXPECT_EQ(std::pair(plain->clipsToBounds(), std::as_const(*plain).layer().cornerRadius), std::pair(true, CGFloat{3}));
  plain->layer().borderColor = UIColor::redColor();
  const CALayer copy = plain->layer();
  plain->layer().borderColor = std::nullopt;
  EXPECT_EQ(
      std::tuple(copy.borderColor == UIColor::redColor(), copy.shadowColor.has_value(), plain->layer().borderColor),
      std::tuple(true, false, CALayerColor()));

  auto spacing = NSLayoutConstraint::make();
  EXPECT_EQ(spacing->identifier(), "");
  spacing->setIdentifier("topSpace");
  view->addConstraint(spacing);
  EXPECT_EQ(view->constraints().front()->identifier(), "topSpace");
  view->removeConstraint(spacing);
  EXPECT_TRUE(view->constraints().empty());
}
