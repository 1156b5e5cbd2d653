#include "platform/ui/ui_control.h"

#include <gtest/gtest.h>

#include "platform/ui/ui_button.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_slider.h"
#include "platform/ui/ui_view_controller.h"

TEST(UIControlTest, TargetActionRunsPerEventOnceAndOnlyWhileTheTargetLives) {
  auto button = UIButton::make();
  std::vector<std::string> calls;
  auto screen = std::make_shared<int>(0);
  auto handler = [&](UIControl&, const UIEvent*) { calls.push_back("tapped"); };
  button->addTarget(screen, "loginTap:", UIControlEvents::TouchUpInside, handler);
  button->addTarget(screen, "loginTap:", UIControlEvents::TouchUpInside, handler);  // the same binding
  button->addTarget([&](UIControl&, const UIEvent*) { calls.push_back("changed"); }, UIControlEvents::ValueChanged);
  EXPECT_EQ(button->actionsForTarget(screen, UIControlEvents::AllTouchEvents), std::vector<std::string>{"loginTap:"});

  button->setEnabled(false);
  EXPECT_FALSE(button->tap()) << "a disabled control takes no tap (the view's own checks come first)";
  button->setEnabled(true);
  EXPECT_TRUE(button->tap());
  button->sendActionsForControlEvents(UIControlEvents::ValueChanged | UIControlEvents::EditingChanged);
  EXPECT_EQ(calls, (std::vector<std::string>{"tapped", "changed"}));

  screen.reset();  // the target is gone: its action no longer runs
  calls.clear();
  button->tap();
  EXPECT_TRUE(calls.empty());

  auto other = std::make_shared<int>(0);
  button->addTarget(other, "a", UIControlEvents::TouchUpInside, handler);
  button->removeTarget(other, "a", UIControlEvents::TouchUpInside);
  button->tap();
  EXPECT_TRUE(calls.empty());
}

TEST(UIControlTest, TapRecognisersOfAncestorsSeeTheTapFirst) {
  auto screen = UIView::make();
  auto button = UIButton::make();
  screen->addSubview(button);
  std::vector<std::string> order;
  button->addTarget([&](UIControl&, const UIEvent*) { order.push_back("button"); }, UIControlEvents::TouchUpInside);
  auto owner = std::make_shared<int>(0);
  auto hideKeyboard =
      UITapGestureRecognizer::make(owner, "hideKeyboard", [&](UIGestureRecognizer&) { order.push_back("recogniser"); });
  hideKeyboard->setCancelsTouchesInView(false);
  screen->addGestureRecognizer(hideKeyboard);

  button->tap();
  EXPECT_EQ(order, (std::vector<std::string>{"recogniser", "button"}));

  // A recogniser that cancels touches keeps the tap from the control.
  order.clear();
  hideKeyboard->setCancelsTouchesInView(true);
  button->tap();
  EXPECT_EQ(order, std::vector<std::string>{"recogniser"});

  // Disabled, or its target gone: nothing runs, and the control gets the tap.
  order.clear();
  hideKeyboard->setEnabled(false);
  button->tap();
  EXPECT_EQ(order, std::vector<std::string>{"button"});
  hideKeyboard->setEnabled(true);
  owner.reset();
  order.clear();
  EXPECT_TRUE(hideKeyboard->fire());
  EXPECT_TRUE(order.empty());
  screen->removeGestureRecognizer(hideKeyboard);
  EXPECT_EQ(hideKeyboard->view(), nullptr);
  EXPECT_FALSE(hideKeyboard->fire());

  auto longPress = UILongPressGestureRecognizer::make([&](UIGestureRecognizer& r) {
    order.push_back(r.state() == UIGestureRecognizerState::Began ? "began" : "ended");
  });
  screen->addGestureRecognizer(longPress);
  button->tap();  // not a tap recogniser: not fired by taps
  EXPECT_TRUE(longPress->fire());
  EXPECT_EQ(order, (std::vector<std::string>{"button", "began", "ended"}));
  screen->setHidden(true);
  EXPECT_FALSE(longPress->fire());
}

namespace {

// Records the touches that reach it, as screens that end editing in touchesBegan see them.
class TouchLog : public UIViewController {
 public:
  void touchesBegan(const std::vector<UITouch>& t, const UIEvent*) override { phases.push_back(t.at(0).phase); }
  void touchesEnded(const std::vector<UITouch>& t, const UIEvent*) override { phases.push_back(t.at(0).phase); }
  void touchesCancelled(const std::vector<UITouch>& t, const UIEvent*) override { phases.push_back(t.at(0).phase); }
  std::vector<UITouch::Phase> phases;
};

}  // namespace

TEST(UIViewTest, TapsOnPlainViewsTravelUpTheResponderChainToTheController) {
  using Phase = UITouch::Phase;
  auto vc = std::make_shared<TouchLog>();
  auto inner = UIView::make();
  vc->view()->addSubview(inner);
  EXPECT_TRUE(inner->tap());
  EXPECT_EQ(vc->phases, (std::vector<Phase>{Phase::Began, Phase::Ended}));

  vc->phases.clear();
  inner->addGestureRecognizer(UITapGestureRecognizer::make());  // cancels touches in its view
  EXPECT_TRUE(inner->tap());
  EXPECT_EQ(vc->phases, (std::vector<Phase>{Phase::Began, Phase::Cancelled}));

  vc->phases.clear();
  inner->setHidden(true);
  EXPECT_FALSE(inner->tap());
  EXPECT_TRUE(vc->phases.empty());
}

TEST(UIButtonTest, StateValuesFallBackToNormal) {
  auto button = UIButton::make();
  button->setTitle("Play", UIControlState::Normal);
  button->setTitle("Pause", UIControlState::Selected);
  button->setTitleColor(UIColor::redColor(), UIControlState::Disabled);
  EXPECT_EQ(button->currentTitle(), "Play");
  EXPECT_EQ(button->titleForState(UIControlState::Highlighted), "Play");
  button->setSelected(true);
  EXPECT_EQ(button->currentTitle(), "Pause");
  EXPECT_EQ(button->titleLabel()->text(), "Pause");
  button->setEnabled(false);  // selected and disabled: the disabled title is unset, selected wins
  EXPECT_EQ(button->currentTitle(), "Pause");
  EXPECT_EQ(button->currentTitleColor(), UIColor::redColor());
  button->setTitle(std::nullopt, UIControlState::Selected);
  EXPECT_EQ(button->currentTitle(), "Play");
  EXPECT_EQ(button->titleLabel()->text(), "Play");
}

TEST(UISliderTest, DragPhasesTravelWithTheValueChange) {
  auto slider = UISlider::make();
  slider->setMaximumValue(100);
  std::vector<std::pair<UITouch::Phase, float>> seen;
  slider->addTarget(
      [&](UIControl& sender, const UIEvent* event) {
        ASSERT_NE(event, nullptr);
        seen.emplace_back(event->allTouches.at(0).phase, static_cast<UISlider&>(sender).value());
      },
      UIControlEvents::ValueChanged);
  slider->drag(UITouch::Phase::Began, 10);
  slider->drag(UITouch::Phase::Moved, 140);  // kept within the bounds
  slider->drag(UITouch::Phase::Ended, 40);
  EXPECT_EQ(seen, (std::vector<std::pair<UITouch::Phase, float>>{
                      {UITouch::Phase::Began, 10}, {UITouch::Phase::Moved, 100}, {UITouch::Phase::Ended, 40}}));
  slider->setContinuous(false);
  slider->drag(UITouch::Phase::Moved, 50);
  EXPECT_EQ(seen.size(), 3u);
  slider->setEnabled(false);
  EXPECT_FALSE(slider->drag(UITouch::Phase::Ended, 0));
  EXPECT_EQ(slider->value(), 50);
}
