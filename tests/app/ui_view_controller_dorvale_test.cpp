#include "app/ui_view_controller_dorvale.h"

#include <gtest/gtest.h>

#include "analytics/zai.h"
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

  // Without a dismiss action the OK button has no handler to run.
  showAlert(*screen, "Saved");
  auto alert = presented();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(std::tuple(alert->title(), alert->message(), alert->preferredStyle(), alert->actions().size(),
                       alert->actions().at(0)->style()),
            std::tuple("Saved", std::nullopt, UIAlertControllerStyle::Alert, 1u, UIAlertActionStyle::Default));
  ASSERT_TRUE(alert->tapActionWithTitle("OK"));
  time.runUntilIdle();

  // The toolkit closes the alert before it runs a handler, once; here the action only passes on.
  std::optional<std::string> tapped;
  showAlert(*screen, std::nullopt, "Line 1\nLine 2", [&](UIAlertAction& action) { tapped = action.title(); });
  ASSERT_NE(alert = presented(), nullptr);
  EXPECT_EQ(alert->message(), "Line 1\nLine 2");
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
  analytics->setDefaultTracker(analytics->trackerWithTrackingId("tracker-app"));
  UIViewController screen;
  analyticsScreenTracking(screen, "Login");
  analytics->setDefaultTracker(nullptr);
  analyticsScreenTracking(screen, "Profile");
  bool done = false;
  analytics->dispatchWithCompletionHandler([&](ZAIDispatchResult) { done = true; });
  ASSERT_TRUE(time.runUntil([&] { return done; }));
  ASSERT_EQ(collector.requestCount(), 1u);
  const auto body = collector.lastRequest()->body;
  EXPECT_NE(body.find("cd=Login&"), std::string::npos) << body;
  EXPECT_NE(body.find("t=screenview"), std::string::npos) << body;

  analytics->setDispatchURL(std::nullopt);
  UserDefaults::setApplicationDataDirectory(std::nullopt);
}
