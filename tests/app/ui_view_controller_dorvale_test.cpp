#include "app/ui_view_controller_dorvale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "analytics/zai.h"
#include "analytics/zai_fields.h"
#include "analytics/zai_tracker.h"
#include "platform/foundation/user_defaults.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_window.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

namespace {

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIApplication::resetSharedApplication();
    screen_ = std::make_shared<UIViewController>();
    window_ = UIWindow::make();
    window_->setRootViewController(screen_);
    window_->makeKeyAndVisible();
  }
  void TearDown() override { UIApplication::resetSharedApplication(); }

  std::shared_ptr<UIAlertController> presentedAlert() const {
    return std::dynamic_pointer_cast<UIAlertController>(screen_->presentedViewController());
  }

  VirtualTime time_;
  std::shared_ptr<UIViewController> screen_;
  std::shared_ptr<UIWindow> window_;
};

TEST_F(AlertTest, OneOKButtonThatClosesTheAlertAndThenRunsTheDismissActionOnce) {
  showAlert(*screen_, "Saved", std::nullopt);
  auto alert = presentedAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), "Saved");
  EXPECT_EQ(alert->message(), std::nullopt);
  EXPECT_EQ(alert->preferredStyle(), UIAlertControllerStyle::Alert);
  ASSERT_EQ(alert->actions().size(), 1u);
  EXPECT_EQ(alert->actions()[0]->title(), "OK");
  EXPECT_EQ(alert->actions()[0]->style(), UIAlertActionStyle::Default);
  EXPECT_FALSE(alert->actions()[0]->hasHandler());
  ASSERT_TRUE(alert->tapActionWithTitle("OK"));
  time_.runUntilIdle();
  EXPECT_EQ(screen_->presentedViewController(), nullptr);

  int calls = 0;
  bool closedFirst = false;
  std::optional<std::string> tapped;
  showAlert(*screen_, std::nullopt, "Line 1\nLine 2", [&](UIAlertAction& action) {
    ++calls;
    tapped = action.title();
    closedFirst = screen_->presentedViewController() == nullptr;
  });
  alert = presentedAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), std::nullopt);
  EXPECT_EQ(alert->message(), "Line 1\nLine 2");
  EXPECT_EQ(calls, 0);
  ASSERT_TRUE(alert->tapActionWithTitle("OK"));
  time_.runUntilIdle();
  EXPECT_FALSE(alert->tapActionWithTitle("OK"));
  time_.runUntilIdle();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(tapped, "OK");
  EXPECT_TRUE(closedFirst);
}

TEST(ScreenTrackingTest, EachScreenViewCarriesTheNameSetJustBeforeItAndNoTrackerMeansNoHit) {
  char pattern[] = "/tmp/app_tracking_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  UserDefaults::setApplicationDataDirectory(std::string(pattern));
  VirtualTime time;
  FakeBackend collector;
  auto analytics = ZAI::sharedInstance();
  analytics->setDispatchURL(URL::URLWithString(collector.url("collect")));
  auto tracker = analytics->trackerWithTrackingId("UA-77-1");
  analytics->setDefaultTracker(tracker);
  UIViewController screen;

  analyticsScreenTracking(screen, "Login");
  analyticsScreenTracking(screen, "Register");
  ASSERT_TRUE(collector.waitForRequestCount(2));
  auto requests = collector.requests();
  EXPECT_NE(requests[0].body.find("cd=Login&"), std::string::npos) << requests[0].body;
  EXPECT_NE(requests[1].body.find("cd=Register&"), std::string::npos) << requests[1].body;
  EXPECT_NE(requests[1].body.find("t=screenview"), std::string::npos);
  EXPECT_EQ(tracker->get(kZAIScreenName), "Register");

  analytics->setDefaultTracker(nullptr);
  analyticsScreenTracking(screen, "Profile");
  std::optional<ZAIDispatchResult> result;
  analytics->dispatchWithCompletionHandler([&](ZAIDispatchResult r) { result = r; });
  ASSERT_TRUE(time.runUntil([&] { return result.has_value(); }));
  EXPECT_EQ(collector.requestCount(), 2u);
  EXPECT_EQ(analytics->pendingHitCount(), 0u);

  analytics->setDispatchURL(std::nullopt);
  std::filesystem::remove_all(pattern);
}

}  // namespace
