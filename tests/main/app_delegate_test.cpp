#include "main/app_delegate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "analytics/zai.h"
#include "analytics/zai_hit_store.h"
#include "analytics/zai_tracker.h"
#include "app/main_view_controller_factory.h"
#include "app/ui_view_controller_dorvale.h"
#include "main/application_classes.h"
#include "model/lecture.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/frameworks/iq_keyboard_manager.h"
#include "platform/frameworks/xcg_logger.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/ui_application_main.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_window.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"
#include "signin/daz_sign_in.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_constants.h"

namespace {

// The Zedodo sign-in's machinery as far as URLs go: records what it is asked, accepts what it is
// told to.
struct URLRecordingFlow : DAZSignInFlow {
  using Call = std::tuple<std::string, std::optional<std::string>, std::optional<Value>>;
  void signIn(const std::shared_ptr<DAZSignInUIDelegate>&, Completion) override {}
  void signInSilently(Completion) override {}
  bool handleURL(const URL& url, const std::optional<std::string>& source,
                 const std::optional<Value>& annotation) override {
    calls.emplace_back(url.absoluteString(), source, annotation);
    return accepts;
  }
  bool hasAuthInKeychain() const override { return false; }
  void signOut() override {}

  bool accepts = false;
  std::vector<Call> calls;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path() / "resources");
    std::filesystem::copy_file(std::string(DORVALE_SOURCE_RESOURCES) + "/Info.json",
                               dir_.path() / "resources/Info.json");
    Bundle::setMainResourcePath(dir_.str() + "/resources");
    // The shared analytics component keeps the data directory it first saw.
    static TempDir data("app_delegate_data");
    UserDefaults::setApplicationDataDirectory(data.str());
    UIApplication::resetSharedApplication();
    registerApplicationClasses();
    ServiceLocator::TestDoubles doubles;
    doubles.keychainStore = std::make_shared<MemoryKeychainStore>();
    doubles.zedodoSignInFlow = flow_;
    ServiceLocator::setUpForTesting(std::move(doubles));
  }
  void TearDown() override {
    ServiceLocator::tearDownForTesting();
    DAZSignIn::sharedInstance()->setFlow(nullptr);
    FBSDKSettings::setAppID(std::nullopt);
    UIApplication::resetSharedApplication();
    Bundle::setMainResourcePath(std::nullopt);
  }

  void installServiceList() {
    std::filesystem::copy_file(std::string(DORVALE_SOURCE_RESOURCES) + "/ZedodoService-Info.plist",
                               dir_.path() / "resources/ZedodoService-Info.plist");
  }

  VirtualTime time_;
  TempDir dir_{"app_delegate"};
  std::shared_ptr<URLRecordingFlow> flow_ = std::make_shared<URLRecordingFlow>();
};

TEST_F(AppDelegateTest, LaunchWiresTheFrameworksAndShowsTheStartupStoryboard) {
  IQKeyboardManager::sharedManager().setEnable(false);
  IQKeyboardManager::sharedManager().setEnableAutoToolbar(true);
  installServiceList();
  std::optional<ScopedEnv> colors(std::in_place, "XcodeColors", "NO");

  auto application = UIApplicationLaunch(std::nullopt, "AppDelegate");
  ASSERT_NE(application->keyWindow(), nullptr);
  EXPECT_EQ(application->keyWindow()->visibleViewController()->className(), "LoginViewController");

  EXPECT_TRUE(IQKeyboardManager::sharedManager().enable());
  EXPECT_FALSE(IQKeyboardManager::sharedManager().enableAutoToolbar());
  EXPECT_STREQ(std::getenv("XcodeColors"), "NO") << "an existing value stays";
  EXPECT_EQ(XCGLogger::defaultInstance().outputLogLevel(), XCGLogger::LogLevel::Verbose);
  EXPECT_EQ(DAZSignIn::sharedInstance()->delegate(), ServiceLocator::shared().authenticationManager());
  EXPECT_EQ(ZAI::sharedInstance()->defaultTracker()->trackingId(), "sample-tracking-id");

  colors.emplace("XcodeColors", nullptr);
  UIApplication::resetSharedApplication();
  UIApplicationLaunch(std::nullopt, "AppDelegate");
  EXPECT_STREQ(std::getenv("XcodeColors"), "YES");

  // Every tab of the main tab bar has its title before it is opened.
  auto tabs = ServiceLocator::shared().viewControllerFactory()->getMainTabBarController();
  ASSERT_EQ(tabs->viewControllers().size(), 5u);
  for (const auto& tab : tabs->viewControllers()) {
    EXPECT_FALSE(tab->isViewLoaded());
    EXPECT_NE(tab->tabBarItem()->title().value_or(""), "") << tab->storyboardIdentifier();
  }
  EXPECT_EQ(tabs->viewControllers()[0]->tabBarItem()->title(), NSLocalizedString("lectures_tabbar_title"));
}

TEST_F(AppDelegateTest, AMissingOrBrokenServiceListDoesNotStopTheLaunch) {
  for (const char* list : {static_cast<const char*>(nullptr), "<plist><dict><key>TRACKING_ID", ""}) {
    if (list) std::ofstream(dir_.path() / "resources/ZedodoService-Info.plist", std::ios::binary) << list;
    UIApplication::resetSharedApplication();
    auto application = UIApplicationLaunch(std::nullopt, "AppDelegate");
    EXPECT_EQ(application->applicationState(), UIApplicationState::Active);
    EXPECT_EQ(DAZSignIn::sharedInstance()->delegate(), ServiceLocator::shared().authenticationManager());
  }
}

TEST_F(AppDelegateTest, URLsGoToFacebookFirstThenToTheZedodoSignIn) {
  FBSDKSettings::setAppID("4242");
  auto application = UIApplicationLaunch(std::nullopt, "AppDelegate");
  flow_->accepts = true;

  EXPECT_TRUE(
      application->deliverOpenURL(*URL::URLWithString("fb4242://authorize#access_token=x"), "com.facebook.app"));
  EXPECT_TRUE(application->deliverOpenURL(*URL::URLWithString("com.zedodo.dorvale:/oauth2callback?code=1"),
                                          "com.zedodo.app", Value("note")));
  flow_->accepts = false;
  EXPECT_FALSE(application->deliverOpenURL(*URL::URLWithString("https://example.com/elsewhere")));
  // The URL Facebook took never reached the Zedodo sign-in.
  EXPECT_EQ(flow_->calls, (std::vector<URLRecordingFlow::Call>{
                              {"com.zedodo.dorvale:/oauth2callback?code=1", "com.zedodo.app", Value("note")},
                              {"https://example.com/elsewhere", std::nullopt, std::nullopt}}));
}

TEST_F(AppDelegateTest, TheEndKeepsTheScreenViewsReportedJustBefore) {
  installServiceList();
  auto application = UIApplicationLaunch(std::nullopt, "AppDelegate");
  const auto stored = ZAI::sharedInstance()->pendingHitCount();
  // A connection of its own, so that counting does not wait for the analytics queue.
  auto store = ZAIHitStore::open(UserDefaults::applicationDataDirectory() + "/analytics/hits.sqlite");
  ASSERT_NE(store, nullptr);
  UIViewController screen;
  for (int i = 0; i < 100; ++i) analyticsScreenTracking(screen, "Screen " + std::to_string(i));
  application->terminate();
  EXPECT_EQ(store->count(), stored + 100);
}

TEST_F(AppDelegateTest, EveryReturnToTheForegroundEmptiesBothLectureLists) {
  auto application = UIApplicationLaunch(std::nullopt, "AppDelegate");
  auto lectures = ServiceLocator::shared().lectureService();
  const auto lecture = Lecture::init(*LectureResponse::decode(R"({"id":1,"name":"n","description":"d","color":"x"})"));
  ASSERT_FALSE(ServiceLocator::shared().authenticationManager()->authenticationType()) << "nobody signed in";
  for (int round = 0; round < 2; ++round) {
    lectures->setLectures({lecture});
    lectures->setQuizLectures({lecture, lecture});
    application->enterBackground();
    EXPECT_EQ(lectures->lectures().size(), 1u) << "going away keeps them";
    application->enterForeground();
    EXPECT_TRUE(lectures->lectures().empty() && lectures->quizLectures().empty());
  }
}

TEST_F(AppDelegateTest, LaunchPicksUpBackgroundSessionsAndTheirEventsReachTheFetchers) {
  auto defaults = std::make_shared<UserDefaults>(dir_.str() + "/fetcher_defaults.json");
  ZSDK_ZTKSessionFetcher::setFetcherUserDefaults(defaults);
  const std::string identifier = std::string(kZTKSessionIdentifierPrefix) + "_0A1B2C3D-0000-4000-8000-000000000002_{}";
  defaults->setObject(Value(Value::Array{Value(identifier)}), kZTKSessionFetcherPersistedSessionsKey);

  auto application = UIApplicationLaunch(std::nullopt, "AppDelegate");
  EXPECT_EQ(ZSDK_ZTKSessionFetcher::activePersistedBackgroundSessions(), std::vector<std::string>{identifier});
  bool handled = false;
  application->deliverBackgroundURLSessionEvents(identifier, [&handled] { handled = true; });
  const auto handler = ZSDK_ZTKSessionFetcher::systemCompletionHandlerForSessionIdentifier(identifier);
  ASSERT_TRUE(handler);
  handler();
  EXPECT_TRUE(handled);
  // Nothing of that session runs in this process: the restored fetcher ends and lets it go.
  time_.advance(1);
  EXPECT_FALSE(defaults->arrayForKey(kZTKSessionFetcherPersistedSessionsKey));
  ZSDK_ZTKSessionFetcher::setSystemCompletionHandlerForSessionIdentifier(nullptr, identifier);
  ZSDK_ZTKSessionFetcher::setFetcherUserDefaults(nullptr);
}

}  // namespace
