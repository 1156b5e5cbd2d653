#include "platform/ui/ui_application.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <tuple>

#include "controller_test_support.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/screen_renderer.h"
#include "platform/ui/ui_application_main.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_table_view_cell.h"
#include "platform/ui/ui_table_view_controller.h"
#include "platform/ui/ui_window.h"
#include "support/temp_dir.h"

namespace {

class LaunchRoot : public Recorder {
 public:
  explicit LaunchRoot(const NSCoder&) : Recorder("root") { note("init"); }
};

class RecordingDelegate : public UIApplicationDelegate {
 public:
  std::shared_ptr<UIWindow> window() const override { return window_; }
  void setWindow(std::shared_ptr<UIWindow> window) override { window_ = std::move(window); }
  bool applicationDidFinishLaunchingWithOptions(UIApplication& app,
                                                const std::optional<Value::Dictionary>& options) override {
    auto nav = std::dynamic_pointer_cast<UINavigationController>(window_->rootViewController());
    note(std::string("didFinishLaunching") + (options ? " with options" : "") +
         (nav->topViewController()->isViewLoaded() ? " (loaded)" : "") +
         (&app == UIApplication::sharedApplication().get() ? "" : " (other app)"));
    return true;
  }
  bool applicationOpenURL(UIApplication&, const URL& url, const std::optional<std::string>& source,
                          const Value&) override {
    note("openURL " + url.absoluteString() + " from " + source.value_or("nil"));
    return true;
  }
  void applicationWillResignActive(UIApplication&) override { note("willResignActive"); }
  void applicationDidEnterBackground(UIApplication&) override { note("didEnterBackground"); }
  void applicationWillEnterForeground(UIApplication&) override { note("willEnterForeground"); }
  void applicationDidBecomeActive(UIApplication&) override { note("didBecomeActive"); }
  void applicationWillTerminate(UIApplication&) override { note("willTerminate"); }

 private:
  void note(const std::string& what) { testLog()->push_back("app." + what); }
  std::shared_ptr<UIWindow> window_;
};

class ApplicationTest : public ControllerTest {
 protected:
  ApplicationTest() {
    registerViewControllerClass<LaunchRoot>("LaunchRoot");
    registerApplicationDelegateClass<RecordingDelegate>("RecordingDelegate");
    UIStoryboard::registerStoryboard(
        "Launch", "nav", {{"nav", "UINavigationController", {"root"}, {}, {}}, {"root", "LaunchRoot", {}, {}, {}}});
    Bundle::main()->setInfoDictionary({{"UIMainStoryboardFile", "Launch"}});
  }
  ~ApplicationTest() override {
    Bundle::setMainResourcePath(std::nullopt);
    UIStoryboard::unregisterStoryboard("Launch");
  }
};

TEST_F(ApplicationTest, LaunchMakesTheSceneThenFinishesLaunchingThenShowsTheWindow) {
  auto app = UIApplicationLaunch(std::nullopt, "RecordingDelegate");
  EXPECT_EQ(app, UIApplication::sharedApplication());
  EXPECT_EQ(take(), (Events{"root.init", "app.didFinishLaunching", "root.viewDidLoad", "root.viewWillAppear",
                            "root.viewDidAppear", "app.didBecomeActive"}));
  ASSERT_TRUE(app->delegate());
  EXPECT_EQ(app->keyWindow(), app->delegate()->window());
  EXPECT_EQ(app->applicationState(), UIApplicationState::Active);

  // Life-cycle events, each delivered once and in the platform's order.
  app->enterBackground();
  app->enterBackground();
  app->becomeActive();
  app->resignActive();
  app->becomeActive();
  app->terminate();
  EXPECT_EQ(take(),
            (Events{"app.willResignActive", "app.didEnterBackground", "app.willEnterForeground", "app.didBecomeActive",
                    "app.willResignActive", "app.didBecomeActive", "app.willTerminate"}));

  EXPECT_TRUE(app->deliverOpenURL(*URL::URLWithString("fb123://authorize"), "com.example.browser"));
  EXPECT_EQ(take(), (Events{"app.openURL fb123://authorize from com.example.browser"}));
}

TEST_F(ApplicationTest, LaunchOptionsReachTheDelegateAndUnknownClassesStop) {
  UIApplicationLaunch(std::nullopt, "RecordingDelegate", Value::Dictionary{{"url", "x"}});
  EXPECT_EQ(take().at(1), "app.didFinishLaunching with options");
  EXPECT_DEATH(UIApplicationLaunch(std::nullopt, "NoSuchDelegate"), "NoSuchDelegate");
  EXPECT_DEATH(UIApplicationLaunch("NoSuchApplication", "RecordingDelegate"), "NoSuchApplication");
}

// A script runs to its end either way; one whose command printed a "! " line ends with 1 and says
// which on standard error.
TEST_F(ApplicationTest, AScriptEndsWithStatusOneWhenACommandOfItFailed) {
  TempDir dir;
  auto run = [&](const std::string& script) {
    const auto path = dir.str() + "/script.txt";
    std::ofstream(path) << script;
    std::string program = "dorvale";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    std::ostringstream printed;
    auto* console = std::cout.rdbuf(printed.rdbuf());
    testing::internal::CaptureStderr();
    const int status = UIApplicationMain(2, argv, std::nullopt, "RecordingDelegate");
    std::cout.rdbuf(console);
    return std::tuple{status, printed.str(), testing::internal::GetCapturedStderr()};
  };
  const auto [status, printed, errors] = run("# unknown, then good\ntpa Evaluate\nshow\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors, "dorvale: 1 command of " + dir.str() +
                        "/script.txt failed; line 2 \"tpa Evaluate\": Unknown command 'tpa': 'help' lists the commands\n");
  const auto screen = ScreenRenderer::render(*UIApplication::sharedApplication()->keyWindow());
  EXPECT_TRUE(printed.ends_with("> show\n" + screen)) << printed;
  EXPECT_EQ(run("show\nquit\n"), std::tuple(0, screen + "> show\n" + screen + "> quit\n", std::string()));
}

TEST_F(ApplicationTest, OutgoingURLsAreRecordedAndOnlyHandledSchemesOpen) {
  auto app = UIApplication::sharedApplication();
  app->setHandledURLSchemes({"https"});
  auto web = *URL::URLWithString("https://example.com/doc.pdf");
  auto mail = *URL::URLWithString("mailto:someone@example.com");
  EXPECT_TRUE(app->canOpenURL(web));
  EXPECT_FALSE(app->canOpenURL(mail));
  EXPECT_FALSE(app->openURL(mail));
  EXPECT_TRUE(app->openURL(web));
  EXPECT_EQ(app->canOpenURLQueries(), (std::vector<URL>{web, mail}));
  EXPECT_EQ(app->openedURLs(), (std::vector<URL>{web}));
  // Without a delegate nothing takes a URL opened into the application.
  EXPECT_FALSE(app->deliverOpenURL(web));
}

TEST_F(ApplicationTest, AWebAddressOpensOnlyWhenABrowserStarts) {
  auto web = *URL::URLWithString("https://example.com/doc.pdf");
  auto environment = [](const char* browser) {
    return [browser](const char* name) { return std::string(name) == "DORVALE_BROWSER" ? browser : nullptr; };
  };
  EXPECT_EQ(ExternalBrowser::start(web, environment(nullptr)).error(),
            "DORVALE_BROWSER is not set and there is no display");
  EXPECT_EQ(ExternalBrowser::start(web, environment("/nonexistent/browser")).error(),
            "cannot start /nonexistent/browser: No such file or directory");
  EXPECT_TRUE(ExternalBrowser::start(web, environment("true")));
  auto app = UIApplication::sharedApplication();
  app->setWebBrowser([](const URL&) -> tl::expected<void, std::string> { return tl::make_unexpected("no display"); });
  EXPECT_FALSE(app->openURL(web));
  EXPECT_TRUE(app->openedURLs().empty());
}

TEST_F(ApplicationTest, BackgroundTasksEndOnceAndExpireThroughTheirHandlers) {
  auto app = UIApplication::sharedApplication();
  std::vector<UIBackgroundTaskIdentifier> expired;
  UIBackgroundTaskIdentifier first = 0;
  first = app->beginBackgroundTaskWithExpirationHandler([&] {
    expired.push_back(first);
    app->endBackgroundTask(first);  // handlers end their own task
  });
  auto second = app->beginBackgroundTaskWithExpirationHandler({});
  EXPECT_NE(first, UIBackgroundTaskInvalid);
  EXPECT_NE(first, second);
  EXPECT_EQ(app->openBackgroundTaskCount(), 2u);
  app->endBackgroundTask(second);
  app->endBackgroundTask(second);
  app->endBackgroundTask(UIBackgroundTaskInvalid);
  EXPECT_EQ(app->openBackgroundTaskCount(), 1u);
  app->expireBackgroundTasks();
  EXPECT_EQ(expired, (std::vector<UIBackgroundTaskIdentifier>{first}));
  EXPECT_EQ(app->openBackgroundTaskCount(), 0u);
}

TEST_F(ApplicationTest, BackgroundTasksEndInAnyOrderAndTheRestExpireInTheOrderBegun) {
  auto app = UIApplication::sharedApplication();
  std::vector<int> expired;
  std::vector<UIBackgroundTaskIdentifier> ids;
  for (int i = 0; i < 6; ++i)
    ids.push_back(app->beginBackgroundTaskWithExpirationHandler([&, i] { expired.push_back(i); }));
  auto captured = std::make_shared<int>(0);
  ids.push_back(app->beginBackgroundTaskWithExpirationHandler([captured] {}));
  for (int i : {3, 0, 5}) app->endBackgroundTask(ids[static_cast<std::size_t>(i)]);
  app->endBackgroundTask(ids[3]);
  app->endBackgroundTask(ids.back() + 1);  // never begun
  app->endBackgroundTask(ids.back());
  EXPECT_EQ(captured.use_count(), 1);  // an ended task's handler is let go
  EXPECT_EQ(app->openBackgroundTaskCount(), 3u);
  app->expireBackgroundTasks();
  EXPECT_EQ(expired, (std::vector<int>{1, 2, 4}));
  for (auto id : ids) app->endBackgroundTask(id);
  EXPECT_EQ(app->openBackgroundTaskCount(), 0u);
}

TEST_F(ApplicationTest, ManyBackgroundTasksEndingOutOfOrderLeaveTheRightOnesOpen) {
  // Enough ended tasks to make the list drop its gaps several times, with gaps left inside.
  auto app = UIApplication::sharedApplication();
  std::vector<int> expired;
  std::vector<UIBackgroundTaskIdentifier> ids;
  std::vector<int> open;
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 64; ++i) {
      const int n = round * 64 + i;
      ids.push_back(app->beginBackgroundTaskWithExpirationHandler([&expired, n] { expired.push_back(n); }));
    }
    // Every task of this round but each seventh ends, latest first, then the oldest still open.
    for (int i = 63; i >= 0; --i) {
      const int n = round * 64 + i;
      if (n % 7 != 0) app->endBackgroundTask(ids[static_cast<std::size_t>(n)]);
    }
    if (!open.empty()) {
      app->endBackgroundTask(ids[static_cast<std::size_t>(open.front())]);
      open.erase(open.begin());
    }
    for (int i = 0; i < 64; ++i) {
      if ((round * 64 + i) % 7 == 0) open.push_back(round * 64 + i);
    }
    ASSERT_EQ(app->openBackgroundTaskCount(), open.size());
  }
  for (std::size_t i = 0; i + 1 < ids.size(); i += 2) app->endBackgroundTask(ids[i]);  // again or first time
  std::erase_if(open, [](int n) { return n % 2 == 0; });
  EXPECT_EQ(app->openBackgroundTaskCount(), open.size());
  app->expireBackgroundTasks();
  EXPECT_EQ(expired, open);
  for (auto id : ids) app->endBackgroundTask(id);
  EXPECT_EQ(app->openBackgroundTaskCount(), 0u);
}

class Subjects : public UITableViewController {
 public:
  int numberOfRowsInSection(UITableView&, int) override { return 2; }
};

TEST_F(ApplicationTest, ATableViewControllerServesItsOwnTableAndClearsSelectionOnReturn) {
  auto subjects = std::make_shared<Subjects>();
  auto window = UIWindow::make();
  auto nav = std::make_shared<UINavigationController>(subjects);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto table = subjects->tableView();
  ASSERT_EQ(subjects->view(), table);
  ASSERT_TRUE(table->tapRowAtIndexPath({0, 1}));
  EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 1}));
  nav->pushViewController(std::make_shared<UIViewController>(), false);
  nav->popViewControllerAnimated(false);
  EXPECT_EQ(table->indexPathForSelectedRow(), std::nullopt);
}

}  // namespace
