#include "platform/ui/ui_view_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "controller_test_support.h"
#include "platform/foundation/notification_center.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_window.h"

namespace {

class ViewControllerTest : public ControllerTest {
 protected:
  // A visible window whose root is a navigation controller holding `root`.
  std::shared_ptr<UINavigationController> show(const std::shared_ptr<UIViewController>& root) {
    auto nav = std::make_shared<UINavigationController>(root);
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    return nav;
  }

  std::shared_ptr<UIWindow> window = UIWindow::make();
};

TEST_F(ViewControllerTest, ViewLoadsLazilyOnceAndOnlyWhenTheWindowShows) {
  auto a = recorder("a");
  auto nav = std::make_shared<UINavigationController>(a);
  // A push onto a stack not shown loads and announces nothing; only the top appears later.
  auto b = recorder("b");
  nav->pushViewController(b, false);
  window->setRootViewController(nav);
  EXPECT_FALSE(nav->isViewLoaded());
  EXPECT_TRUE(take().empty());

  window->makeKeyAndVisible();
  EXPECT_EQ(take(), (Events{"b.viewDidLoad", "b.viewWillAppear", "b.viewDidAppear"}));
  EXPECT_FALSE(a->isViewLoaded());
  EXPECT_EQ(b->view()->window(), window);
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(window->visibleViewController(), b);

  // Further accesses and a second display change nothing.
  b->view();
  window->makeKeyAndVisible();
  EXPECT_TRUE(take().empty());
}

TEST_F(ViewControllerTest, PushAndPopSendAppearanceToTheControllerThatBecomesVisible) {
  auto a = recorder("a");
  auto nav = show(a);
  take();

  auto b = recorder("b");
  nav->pushViewController(b, true);
  EXPECT_EQ(take(), (Events{"a.viewWillDisappear", "b.viewDidLoad", "b.viewWillAppear to", "a.viewDidDisappear",
                            "b.viewDidAppear"}));
  EXPECT_EQ(b->navigationController(), nav);
  EXPECT_FALSE(a->view()->window());
  EXPECT_EQ(nav->navigationBar()->topItem(), b->navigationItem());

  // Pushing a controller that is already on the stack is refused.
  nav->pushViewController(a, true);
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  EXPECT_TRUE(take().empty());

  EXPECT_EQ(nav->popViewControllerAnimated(true), b);
  EXPECT_EQ(take(), (Events{"b.viewWillDisappear", "a.viewWillAppear", "b.viewDidDisappear from", "a.viewDidAppear"}));
  EXPECT_FALSE(b->isMovingFromParentViewController());
  EXPECT_EQ(b->parentViewController(), nullptr);
  EXPECT_EQ(nav->popViewControllerAnimated(true), nullptr);
  EXPECT_TRUE(take().empty());

  // popToRoot over three: only the old top disappears and the root appears.
  auto c = recorder("c");
  auto d = recorder("d");
  nav->pushViewController(c, false);
  nav->pushViewController(d, false);
  take();
  EXPECT_EQ(nav->popToRootViewControllerAnimated(false), (std::vector<std::shared_ptr<UIViewController>>{c, d}));
  EXPECT_EQ(take(), (Events{"d.viewWillDisappear", "a.viewWillAppear", "d.viewDidDisappear from", "a.viewDidAppear"}));
}

TEST_F(ViewControllerTest, PresentAndDismissChainAppearanceAndViews) {
  auto a = recorder("a");
  auto nav = show(a);
  take();

  auto b = recorder("b");
  int completions = 0;
  a->presentViewController(b, true, [&] { ++completions; });
  EXPECT_EQ(take(), (Events{"a.viewWillDisappear", "b.viewDidLoad", "b.viewWillAppear", "a.viewDidDisappear",
                            "b.viewDidAppear"}));
  // The child forwards to its container, which is the presenter.
  EXPECT_EQ(b->presentingViewController(), nav);
  EXPECT_EQ(nav->presentedViewController(), b);
  EXPECT_EQ(window->subviews(), (std::vector<std::shared_ptr<UIView>>{b->view()}));
  EXPECT_EQ(completions, 0);  // after the transition, on the run loop
  time.runUntilIdle();
  EXPECT_EQ(completions, 1);

  auto c = recorder("c");
  b->presentViewController(c, false);
  take();

  // Dismissing from the bottom presenter removes the whole chain; only the top was on screen.
  a->dismissViewControllerAnimated(true, [&] { ++completions; });
  EXPECT_EQ(take(), (Events{"c.viewWillDisappear", "a.viewWillAppear", "c.viewDidDisappear", "a.viewDidAppear"}));
  EXPECT_EQ(nav->presentedViewController(), nullptr);
  EXPECT_EQ(c->presentingViewController(), nullptr);
  EXPECT_EQ(window->subviews(), (std::vector<std::shared_ptr<UIView>>{nav->view()}));
  time.runUntilIdle();
  EXPECT_EQ(completions, 2);

  // A presented controller that presents nothing dismisses itself through its presenter.
  a->presentViewController(b, false);
  take();
  b->dismissViewControllerAnimated(false);
  EXPECT_EQ(take(), (Events{"b.viewWillDisappear", "a.viewWillAppear", "b.viewDidDisappear", "a.viewDidAppear"}));
  EXPECT_EQ(nav->presentedViewController(), nullptr);
}

TEST_F(ViewControllerTest, PresentationRefusalsAreRecordedAndChangeNothing) {
  auto a = recorder("a");
  show(a);
  bool ran = false;
  // Not in a window: a controller whose view never loaded.
  recorder("loose")->presentViewController(recorder("x"), true, [&] { ran = true; });

  // Already presenting (an alert leaves the presenter in the window): asked of the presenter and of
  // its container.
  auto first = UIAlertController::alertControllerWithTitle("First", std::nullopt, UIAlertControllerStyle::Alert);
  a->presentViewController(first, true);
  a->presentViewController(recorder("second"), true, [&] { ran = true; });
  a->navigationController()->presentViewController(recorder("third"), true);
  EXPECT_EQ(a->presentedViewController(), first);

  // Under a full-screen presentation the presenter's view has left the window.
  a->dismissViewControllerAnimated(false);
  auto cover = recorder("cover");
  a->presentViewController(cover, false);
  a->presentViewController(recorder("fourth"), true);
  // The same controller cannot be presented twice.
  cover->presentViewController(cover, true);
  EXPECT_EQ(a->presentedViewController(), cover);

  time.runUntilIdle();
  EXPECT_FALSE(ran);
  std::vector<std::string> refusals;
  for (const auto& r : UIViewController::presentationRefusals()) refusals.push_back(r.presenter + ": " + r.message);
  using testing::HasSubstr;
  EXPECT_THAT(refusals, testing::ElementsAre(HasSubstr("Recorder: Warning: Attempt to present <Recorder> on <Recorder> "
                                                       "whose view is not in the window hierarchy!"),
                                             HasSubstr("already presenting <UIAlertController>"),
                                             HasSubstr("already presenting <UIAlertController>"),
                                             HasSubstr("not in the window hierarchy"), HasSubstr("has a parent")));
  UIViewController::clearPresentationRefusals();
  EXPECT_TRUE(UIViewController::presentationRefusals().empty());
}

TEST_F(ViewControllerTest, AlertTapClosesFirstThenRunsTheHandlerOnce) {
  auto a = recorder("a");
  show(a);
  std::vector<std::string> seen;
  auto alert = UIAlertController::alertControllerWithTitle("Saved", "All done", UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, [&](UIAlertAction& action) {
    seen.push_back(*action.title() + (a->presentedViewController() ? " while open" : " after close"));
    // The handler may present again: the alert is gone.
    auto next = UIAlertController::alertControllerWithTitle("Next", std::nullopt, UIAlertControllerStyle::Alert);
    a->presentViewController(next, true);
  }));
  alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  EXPECT_FALSE(alert->tapActionWithTitle("OK"));  // not presented yet
  take();
  a->presentViewController(alert, true);
  EXPECT_TRUE(take().empty()) << "an alert leaves its presenter on screen";

  EXPECT_FALSE(alert->tapActionWithTitle("Nope"));
  EXPECT_TRUE(alert->tapActionWithTitle("OK"));
  EXPECT_FALSE(alert->tapActionWithTitle("OK"));  // closed at once
  EXPECT_FALSE(alert->tapActionAtIndex(1));
  EXPECT_TRUE(seen.empty());
  time.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"OK after close"}));
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(std::dynamic_pointer_cast<UIAlertController>(a->presentedViewController()));
}

TEST_F(ViewControllerTest, ABarItemWithACustomViewShowsTheViewOnTheBar) {
  auto root = recorder("root");
  root->setTitle("Sign in");
  auto label = UILabel::make();
  label->setText("busy");
  root->navigationItem()->setRightBarButtonItem(UIBarButtonItem::withCustomView(label));
  auto nav = std::make_shared<UINavigationController>(root);
  EXPECT_EQ(renderOnOneLine(*nav->navigationBar()), "=== Sign in === busy");
  label->setHidden(true);
  EXPECT_EQ(renderOnOneLine(*nav->navigationBar()), "=== Sign in ===");
}

class Tabs : public UITabBarControllerDelegate {
 public:
  bool tabBarControllerShouldSelectViewController(UITabBarController&, UIViewController& c) override {
    asked.push_back(&c);
    return allow;
  }
  void tabBarControllerDidSelectViewController(UITabBarController&, UIViewController&) override { ++selected; }
  bool allow = true;
  std::vector<UIViewController*> asked;
  int selected = 0;
};

TEST_F(ViewControllerTest, TabSelectionMovesAppearanceBetweenTheTabsTops) {
  auto a = recorder("a");
  auto b = recorder("b");
  auto first = std::make_shared<UINavigationController>(a);
  auto second = std::make_shared<UINavigationController>(b);
  auto tabs = std::make_shared<UITabBarController>();
  tabs->setViewControllers({first, second});
  EXPECT_EQ(b->tabBarController(), tabs);
  window->setRootViewController(tabs);
  window->makeKeyAndVisible();
  EXPECT_EQ(take(), (Events{"a.viewDidLoad", "a.viewWillAppear", "a.viewDidAppear"}));

  auto delegate = std::make_shared<Tabs>();
  tabs->setDelegate(delegate);
  tabs->setSelectedIndex(1);
  EXPECT_EQ(take(), (Events{"a.viewWillDisappear", "b.viewDidLoad", "b.viewWillAppear", "a.viewDidDisappear",
                            "b.viewDidAppear"}));
  EXPECT_TRUE(delegate->asked.empty());  // code selection does not ask
  EXPECT_EQ(tabs->tabBar()->selectedItem(), second->tabBarItem());

  delegate->allow = false;
  EXPECT_FALSE(tabs->tapTabAtIndex(0));
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(tabs->selectedIndex(), 1u);
  delegate->allow = true;
  EXPECT_TRUE(tabs->tapTabAtIndex(0));
  EXPECT_EQ(take(), (Events{"b.viewWillDisappear", "a.viewWillAppear", "b.viewDidDisappear", "a.viewDidAppear"}));
  EXPECT_EQ(delegate->asked, (std::vector<UIViewController*>{first.get(), first.get()}));
  EXPECT_EQ(delegate->selected, 1);
  EXPECT_FALSE(tabs->tapTabAtIndex(7));
}

TEST_F(ViewControllerTest, AChildAddedOnScreenAppearsOnceItsViewIsInTheWindow) {
  auto parent = recorder("parent");
  show(parent);
  take();
  auto child = recorder("child");
  parent->addChildViewController(child);
  parent->addChildViewController(child);
  EXPECT_EQ(parent->childViewControllers().size(), 1u);
  parent->view()->addSubview(child->view());
  child->didMoveToParentViewController(parent);
  EXPECT_EQ(take(), (Events{"child.viewDidLoad"}));
  time.runUntilIdle();
  EXPECT_EQ(take(), (Events{"child.viewWillAppear", "child.viewDidAppear"}));

  child->willMoveToParentViewController(nullptr);
  child->view()->removeFromSuperview();
  child->removeFromParentViewController();
  EXPECT_EQ(take(), (Events{"child.viewWillDisappear", "child.viewDidDisappear"}));
  EXPECT_EQ(child->parentViewController(), nullptr);
}

class Rotating : public Recorder {
 public:
  using Recorder::Recorder;
  void willRotateToInterfaceOrientation(UIInterfaceOrientation, double) override { note("willRotate"); }
  void viewWillTransitionToSize(CGSize size, const UIViewControllerTransitionCoordinator&) override {
    note("transition " + std::to_string(static_cast<int>(size.width)));
  }
  void viewDidLayoutSubviews() override { note("layout"); }
  void didRotateFromInterfaceOrientation(UIInterfaceOrientation) override { note("didRotate"); }
};

TEST_F(ViewControllerTest, RotationSwapsTheScreenAndTellsTheControllersOnScreen) {
  auto r = std::make_shared<Rotating>("r");
  show(r);
  take();
  int notified = 0;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      UIDeviceOrientationDidChangeNotification, nullptr, nullptr, [&](const Notification&) {
        ++notified;
        EXPECT_TRUE(log->empty());  // the notification comes before the interface turns
      });
  UIDevice::currentDevice()->rotate(UIDeviceOrientation::LandscapeLeft);
  NotificationCenter::defaultCenter()->removeObserver(token);
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(UIApplication::sharedApplication()->statusBarOrientation(), UIInterfaceOrientation::LandscapeRight);
  EXPECT_EQ(UIScreen::mainScreen()->bounds().size, (CGSize{667, 375}));
  EXPECT_EQ(r->view()->frame().size, (CGSize{667, 375}));
  EXPECT_EQ(take(), (Events{"r.willRotate", "r.transition 667", "r.layout", "r.didRotate"}));
  // Face up turns nothing but the device.
  UIDevice::currentDevice()->rotate(UIDeviceOrientation::FaceUp);
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(UIScreen::mainScreen()->bounds().size, (CGSize{667, 375}));
}

}  // namespace
