#include <gtest/gtest.h>

#include "controller_test_support.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_window.h"

namespace {

// Notes whether it is moving to or from its parent at each appearance call.
class MovingRecorder : public Recorder {
 public:
  using Recorder::Recorder;
  void viewWillAppear(bool) override { note(std::string("willAppear") + flags()); }
  void viewDidDisappear(bool) override { note(std::string("didDisappear") + flags()); }

 private:
  std::string flags() const {
    return std::string(isMovingToParentViewController() ? " to" : "") +
           (isMovingFromParentViewController() ? " from" : "");
  }
};

}  // namespace

class NavigationExtrasTest : public ControllerTest {};

TEST_F(NavigationExtrasTest, PushAndPopMarkTheControllerMovingToAndFromItsParent) {
  auto root = std::make_shared<MovingRecorder>("root", log);
  auto nav = std::make_shared<UINavigationController>(root);
  auto window = UIWindow::make();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto pushed = std::make_shared<MovingRecorder>("pushed", log);
  nav->pushViewController(pushed, false);
  nav->popViewControllerAnimated(false);
  EXPECT_EQ(take(), (std::vector<std::string>{"root.viewDidLoad", "root.willAppear", "root.viewDidAppear",
                                              "root.viewWillDisappear", "pushed.viewDidLoad", "pushed.willAppear to",
                                              "root.didDisappear", "pushed.viewDidAppear", "pushed.viewWillDisappear",
                                              "root.willAppear", "pushed.didDisappear from", "root.viewDidAppear"}));
  EXPECT_FALSE(pushed->isMovingFromParentViewController());
}

TEST_F(NavigationExtrasTest, ABarItemWithACustomViewShowsTheViewOnTheBar) {
  auto root = std::make_shared<UIViewController>();
  root->setTitle("Sign in");
  auto label = UILabel::make();
  label->setText("busy");
  root->navigationItem()->setRightBarButtonItem(UIBarButtonItem::withCustomView(label));
  auto nav = std::make_shared<UINavigationController>(root);
  EXPECT_EQ(renderOnOneLine(*nav->navigationBar()), "=== Sign in === busy");
  label->setHidden(true);
  EXPECT_EQ(renderOnOneLine(*nav->navigationBar()), "=== Sign in ===");
}
