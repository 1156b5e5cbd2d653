#include "app/ui_view_controller_dorvale.h"

#include <gtest/gtest.h>

#include "analytics/zai.h"
#include "analytics/zai_fields.h"
#include "analytics/zai_tracker.h"
#include "platform/foundation/user_defaults.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_window.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"

TEST(AlertTest, OneOKButtonThatClosesTheAlertAndHandsTheTappedActionToTheDismissAction) {
  VirtualTime time;
  UIApplication::resetSharedApplication();
  auto screen = std::make_shared<UIViewController>();
  auto window = UIWindow::make();
  window->setRootViewController(screen);
  window->makeKeyAndVisible();
  auto presented = [&] { return std::dynamic_pointer_cast<UIAlertController>(screen->presentedViewController()); };

  showAlert(*screen, "Saved");
  auto alert = presented();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), "Saved");
  EXPECT_EQ(alert->message(), std::nullopt);
  EXPECT_EQ(alert->preferredStyle(), UIAlertControllerStyle::Alert);
  ASSERT_EQ(alert->actions().size(), 1u);
  EXPECT_EQ(alert->actions()[0]->title(), "OK");
  EXPECT_EQ(alert->actions()[0]->style(), UIAlertActionStyle::Default);
  EXPECT_FALSE(alert->actions()[0]->hasHandler());
  ASSERT_TRUE(alert->tapActionWithTitle("OK"));
  time.runUntilIdle();
  EXPECT_EQ(screen->presentedViewController(), nullptr);

  // The toolkit closes the alert before it runs a handler, once; here the action only passes on.
  std::optional<std::string> tapped;
  showAlert(*screen, std::nullopt, "Line 1\nLine 2", [&](UIAlertAction& action) { tapped = action.title(); });
  alert = presented();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), std::nullopt);
  EXPECT_EQ(alert->message(), "Line 1\nLine 2");
  EXPECT_TRUE(alert->actions()[0]->hasHandler());
  ASSERT_TRUE(alert->tapActionWithTitle("OK"));
  time.runUntilIdle();
  EXPECT_EQ(tapped, "OK");
  UIApplication::resetSharedApplication();
}

TEST(ScreenTrackingTest, EachScreenViewReachesTheCollectorWithItsNameAndNoTrackerMeansNoHit) {
  // The shared component keeps the store it opened first, so the folder lives as long as the process.
  static TempDir data("app_tracking");
  UserDefaults::setApplicationDataDirectory(data.str());
  VirtualTime time;
  FakeBackend collector;
  auto analytics = ZAI::sharedInstance();
  analytics->setDispatchURL(URL::URLWithString(collector.url("collect")));
  auto tracker = analytics->trackerWithTrackingId("tracker-app");
  analytics->setDefaultTracker(tracker);
  UIViewController screen;
  auto dispatched = [&] {
    auto done = std::make_shared<bool>(false);
    analytics->dispatchWithCompletionHandler([done](ZAIDispatchResult) { *done = true; });
    return time.runUntil([&] { return *done; });
  };

  analyticsScreenTracking(screen, "Login");
  analyticsScreenTracking(screen, "Register");
  ASSERT_TRUE(dispatched());
  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].body.find("cd=Login&"), std::string::npos) << requests[0].body;
  EXPECT_NE(requests[1].body.find("cd=Register&"), std::string::npos) << requests[1].body;
  EXPECT_NE(requests[1].body.find("t=screenview"), std::string::npos);
  EXPECT_EQ(tracker->get(kZAIScreenName), "Register");

  analytics->setDefaultTracker(nullptr);
  analyticsScreenTracking(screen, "Profile");
  ASSERT_TRUE(dispatched());
  EXPECT_EQ(collector.requestCount(), 2u);
  EXPECT_EQ(analytics->pendingHitCount(), 0u);

  analytics->setDispatchURL(std::nullopt);
  UserDefaults::setApplicationDataDirectory(std::nullopt);
}
