#include "platform/ui/console_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ios>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <utility>

#include "controller_test_support.h"
#include "platform/foundation/run_loop.h"
#include "platform/net/url_session.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/image_codec.h"
#include "platform/ui/render.h"
#include "platform/ui/screen_renderer.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_image_picker_controller.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_refresh_control.h"
#include "platform/ui/ui_slider.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_table_view_cell.h"
#include "platform/ui/ui_table_view_row_action.h"
#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_window.h"
#include "platform/ui/wk_web_view.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"

namespace {

void showAlert(UIViewController& on, const std::string& title, std::optional<std::string> message) {
  auto alert = UIAlertController::alertControllerWithTitle(title, std::move(message), UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default));
  on.presentViewController(alert, true);
}

// A login-like form: signs in after a second, then shows the subjects.
class DemoLogin : public UIViewController {
 public:
  explicit DemoLogin(const NSCoder&) {}

  void viewDidLoad() override {
    navigationItem()->setTitle("Sign in");
    statusLabel.lock()->setText("Please sign in");
    auto self = sharedAs<DemoLogin>();
    navigationItem()->setRightBarButtonItem(
        std::make_shared<UIBarButtonItem>("Help", UIBarButtonItemStyle::Plain, self,
                                          "helpTap:", [weak = std::weak_ptr<DemoLogin>(self)](UIBarButtonItem&) {
                                            if (auto vc = weak.lock())
                                              showAlert(*vc, "Help", "Type an e-mail and a password.");
                                          }));
  }

  void loginTap(UIControl&) {
    if (emailField.lock()->text().value_or("").empty()) return showAlert(*this, "Missing e-mail", std::nullopt);
    statusLabel.lock()->setText("Signing in...");
    RunLoop::main().scheduledTimer(1.0, false, [self = sharedAs<DemoLogin>()](Timer&) {
      self->statusLabel.lock()->setText("Signed in");
      self->performSegueWithIdentifier("showList", nullptr);
    });
  }

  std::weak_ptr<UITextField> emailField;
  std::weak_ptr<UILabel> statusLabel;
};

// Subjects that a swipe deletes.
class DemoList : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  explicit DemoList(const NSCoder&) {}

  void viewDidLoad() override { navigationItem()->setTitle("Subjects"); }
  int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(subjects.size()); }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& ip) override {
    auto cell = table.dequeueReusableCellWithIdentifier("subject", ip);
    cell->textLabel()->setText(subjects.at(static_cast<std::size_t>(ip.row)));
    return cell;
  }
  bool canEditRowAtIndexPath(UITableView&, const NSIndexPath&) override { return true; }
  std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(
      UITableView& table, const NSIndexPath&) override {
    return std::vector{UITableViewRowAction::rowActionWithStyle(
        UITableViewRowActionStyle::Default, "Delete", [this, &table](UITableViewRowAction&, const NSIndexPath& ip) {
          subjects.erase(subjects.begin() + ip.row);
          table.reloadData();
        })};
  }

  std::vector<std::string> subjects{"Algebra", "Geometry", "Physics"};
};

void registerDemoStoryboard() {
  registerViewControllerClass<DemoLogin>("DemoLogin");
  registerViewControllerClass<DemoList>("DemoList");
  UIStoryboardScene root{"root", "UINavigationController", {"login"}, {}, {}};
  UIStoryboardScene login{
      "login", "DemoLogin", {}, {{"showList", "list", UIStoryboardSegueKind::Show}}, [](UIStoryboardSceneBuilder& b) {
        auto& vc = b.controllerAs<DemoLogin>();
        vc.statusLabel = b.add<UILabel>(b.view(), "statusLabel");
        vc.emailField = b.add<UITextField>(b.view(), "emailField");
        vc.emailField.lock()->setPlaceholder("E-mail");
        auto password = b.add<UITextField>(b.view(), "passwordField");
        password->setPlaceholder("Password");
        password->setSecureTextEntry(true);
        auto button = b.add<UIButton>(b.view(), "loginButton");
        button->setTitle("Log in", UIControlState::Normal);
        b.action<DemoLogin>(button, "loginTap:", UIControlEvents::TouchUpInside,
                            [](DemoLogin& c, UIControl& s) { c.loginTap(s); });
      }};
  UIStoryboardScene list{"list", "DemoList", {}, {}, [](UIStoryboardSceneBuilder& b) {
                           auto vc = b.controllerAs<DemoList>().sharedAs<DemoList>();
                           auto table = b.add<UITableView>(b.view(), "tableView");
                           table->registerClass<UITableViewCell>("subject");
                           table->setDataSource(std::static_pointer_cast<UITableViewDataSource>(vc));
                           table->setDelegate(std::static_pointer_cast<UITableViewDelegate>(vc));
                         }};
  UIStoryboard::registerStoryboard("Demo", "root", {root, login, list});
}

// A numbered control that is no button, as a quiz's question strip has.
class NumberedControl : public UIControl {
 public:
  using UIControl::UIControl;
  std::optional<std::string> bracketedTitle() const override { return "2"; }
};

// Two pages side by side with a button of the same name on each, a slider, a refreshable list, a
// web page whose links open outside, and a label that a fetch fills in.
class Gadgets : public UIViewController, public WKNavigationDelegate {
 public:
  void viewDidLoad() override {
    pages->setPagingEnabled(true);
    pages->setContentSize(CGSize{640, 100});
    for (int i : {0, 1}) {
      auto button = UIButton::make(CGRect{{320.0 * i + 10, 10}, {100, 40}});
      button->setTitle(i == 0 ? "Page one" : "Page two", UIControlState::Normal);
      button->setAccessibilityIdentifier("choose");
      button->addTarget([this, i](UIControl&, const UIEvent*) { events.push_back("chose " + std::to_string(i)); },
                        UIControlEvents::TouchUpInside);
      pages->addSubview(button);
    }
    slider->setValue(0.5);
    slider->addTarget(
        [this](UIControl& s, const UIEvent* e) {
          const char* phases[] = {"began", "moved", "stationary", "ended", "cancelled"};
          events.push_back(std::string(phases[static_cast<int>(e->allTouches.at(0).phase)]) + " " +
                           std::to_string(static_cast<UISlider&>(s).value()).substr(0, 4));
        },
        UIControlEvents::ValueChanged);
    auto refresh = UIRefreshControl::make();
    refresh->addTarget([this](UIControl&, const UIEvent*) { events.push_back("pulled"); },
                       UIControlEvents::ValueChanged);
    list->setRefreshControl(refresh);
    web->setNavigationDelegate(std::static_pointer_cast<WKNavigationDelegate>(sharedAs<Gadgets>()));
    web->loadHTMLString("<p>Go to <a href='https://example.com/a'>A</a> or <a href='https://example.com/b'>B</a></p>",
                        std::nullopt);
    for (const auto& [name, v] : std::vector<std::pair<std::string, std::shared_ptr<UIView>>>{
             {"pages", pages}, {"volume", slider}, {"list", list}, {"web", web}, {"status", status}}) {
      v->setAccessibilityIdentifier(name);
      view()->addSubview(v);
    }
  }

  void decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction& action,
                                       std::function<void(WKNavigationActionPolicy)> decide) override {
    if (action.navigationType != WKNavigationType::LinkActivated) return decide(WKNavigationActionPolicy::Allow);
    UIApplication::sharedApplication()->openURL(*action.request.url);
    decide(WKNavigationActionPolicy::Cancel);
  }

  std::shared_ptr<UIScrollView> pages = UIScrollView::make(CGRect{{0, 0}, {320, 100}});
  std::shared_ptr<UISlider> slider = UISlider::make(CGRect{{0, 100}, {320, 30}});
  std::shared_ptr<UITableView> list = UITableView::make(CGRect{{0, 130}, {320, 100}});
  std::shared_ptr<WKWebView> web = WKWebView::make(CGRect{{0, 230}, {320, 100}});
  std::shared_ptr<UILabel> status = UILabel::make(CGRect{{0, 330}, {320, 20}});
  std::vector<std::string> events;
};

// Opens demo: links and notes going to the background and back.
class App : public UIApplicationDelegate {
 public:
  bool applicationOpenURL(UIApplication&, const URL& url, const std::optional<std::string>&, const Value&) override {
    return url.scheme() == "demo";
  }
  void applicationDidEnterBackground(UIApplication&) override { events.push_back("background"); }
  void applicationWillEnterForeground(UIApplication&) override { events.push_back("foreground"); }
  std::vector<std::string> events;
};

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

// What a driver of its own prints for `in` (run as a script or as typed), and whether reading went well.
std::pair<std::string, bool> drive(std::istream& in, bool interactive = false) {
  std::ostringstream printed;
  ConsoleDriver driver(printed);
  const bool ok = interactive ? driver.runInteractive(in) : driver.run(in);
  return {printed.str(), ok};
}

// The demo on screen, and a driver of it that does not echo commands.
class ConsoleTest : public ControllerTest {
 protected:
  ConsoleTest() {
    registerDemoStoryboard();
    UIApplication::sharedApplication()->setDelegate(app);
    window->setRootViewController(UIStoryboard::storyboardWithName("Demo")->instantiateInitialViewController());
    window->makeKeyAndVisible();
    driver.setEchoCommands(false);
  }
  ~ConsoleTest() override { UIStoryboard::unregisterStoryboard("Demo"); }

  std::shared_ptr<UIViewController> login() const {
    return std::dynamic_pointer_cast<UINavigationController>(window->rootViewController())->topViewController();
  }
  std::vector<std::string> errors() const { return linesStartingWith(out.str(), "!"); }

  std::shared_ptr<App> app = std::make_shared<App>();
  std::shared_ptr<UIWindow> window = UIWindow::make();
  std::ostringstream out;
  ConsoleDriver driver{out, window};
};

class GadgetsTest : public ConsoleTest {
 protected:
  GadgetsTest() { window->setRootViewController(gadgets); }
  std::shared_ptr<Gadgets> gadgets = std::make_shared<Gadgets>();
};

TEST_F(ConsoleTest, ADemoSceneIsDrivenEntirelyByAScript) {
  std::istringstream script(R"(# a whole visit
tap loginButton
alert OK
type emailField ada@example.com
type passwordField secret
tap Help
alert OK
tap loginButton
wait 1
swipe 1 0 Delete
swipe 0 Delete
back
quit
show
)");
  // The form as printed: the status, then what the fields show.
  auto form = [](const std::string& status, const std::string& email, const std::string& password) {
    return "=== Sign in === [Help]\n" + status + "\n{" + email + "} #emailField\n{" + password +
           "} #passwordField\n[Log in] #loginButton\n";
  };
  const std::string login = form("Please sign in", "(E-mail)", "(Password)");
  const std::string typed = form("Please sign in", "ada@example.com", "••••••|");
  const std::string list =
      "[< Sign in] === Subjects ===\n0. Algebra (swipe: Delete)\n1. Geometry (swipe: Delete)\n"
      "2. Physics (swipe: Delete)\n";
  EXPECT_EQ(drive(script).first,
            login + "> tap loginButton\n" + login + "+++ alert: Missing e-mail\n  [OK]\n" + "> alert OK\n" + login +
                "> type emailField ada@example.com\n" + form("Please sign in", "ada@example.com|", "(Password)") +
                "> type passwordField ••••••\n" + typed + "> tap Help\n" + typed +
                "+++ alert: Help\n  Type an e-mail and a password.\n  [OK]\n> alert OK\n" + typed +
                "> tap loginButton\n" + form("Signing in...", "ada@example.com", "••••••|") + "> wait 1\n" + list +
                "> swipe 1 0 Delete\n! Row 1.0 has no action 'Delete'\n" + list + "> swipe 0 Delete\n" +
                "[< Sign in] === Subjects ===\n0. Geometry (swipe: Delete)\n1. Physics (swipe: Delete)\n" + "> back\n" +
                form("Signed in", "ada@example.com", "••••••") + "> quit\n");
}

TEST_F(ConsoleTest, CommandsThatCannotRunSayWhyAndTheDriverGoesOn) {
  for (const char* line :
       {"tap Help", "tap loginButton", "select 0", "back", "alert Cancel", "alert OK", "alert OK", "swipe 0 Delete",
        "select 0 x", "tab 0", "type statusLabel hi", "back", "open demo://hello", "open https://example.com",
        "open not a url", "wait soon", "wait -1", "wait 601", "type emailField still here"}) {
    driver.execute(line);
  }
  const std::string alertOpen = "! An alert is open: answer it with 'alert BUTTON'",
                    waitUsage = "! Usage: wait SECONDS (at most 600)";
  EXPECT_EQ(errors(), (std::vector<std::string>{
                          alertOpen, alertOpen, alertOpen, "! The alert has no button 'Cancel'", "! No alert is open",
                          "! There is no table on screen", "! Usage: select ROW, or select SECTION ROW",
                          "! There is no tab bar on screen", "! 'statusLabel' is not a text field",
                          "! There is no back button", "! Not a URL: 'not a url'", waitUsage, waitUsage, waitUsage}));
  EXPECT_EQ(linesStartingWith(out.str(), "The application"),
            (std::vector<std::string>{"The application opened demo://hello",
                                      "The application did not open https://example.com"}));
  EXPECT_NE(driver.screen().find("{still here|} #emailField"), std::string::npos);
}

// Each sign-in it ended is named; one whose answer had already come goes on unnamed.
TEST_F(ConsoleTest, CancelGivesUpEverySignInWaitingInABrowserAndSaysWhich) {
  int cancelled = 0;
  auto first = BrowserSignIns::add("Facebook", [&] { return ++cancelled > 0; });
  auto second = BrowserSignIns::add("Zedodo", [&] { return ++cancelled > 0; });
  auto answered = BrowserSignIns::add("Zedodo", [&] { return ++cancelled < 0; });
  BrowserSignIns::add("Zedodo", [&] { return (cancelled += 100) > 0; }).reset();
  // Giving up would present an alert over the open one: refused like any command until it is answered.
  driver.execute("tap loginButton");
  driver.execute("cancel");
  EXPECT_EQ(cancelled, 0);
  driver.execute("alert OK");
  driver.execute("cancel");
  driver.execute("cancel");
  EXPECT_EQ(cancelled, 3);
  EXPECT_EQ(errors(), (std::vector<std::string>{"! An alert is open: answer it with 'alert BUTTON'",
                                                "! No sign-in waits in a browser"}));
  EXPECT_EQ(linesStartingWith(out.str(), "The "),
            (std::vector<std::string>{"The Facebook sign-in that waited in the browser was given up.",
                                      "The Zedodo sign-in that waited in the browser was given up."}));
}

// A browser started for a sign-in holds the screen while it runs, but briefly: one that stays
// open lets the command end at the limit, and none of it is a busy network.
TEST_F(ConsoleTest, ASignInBrowserHoldsTheScreenWhileItRunsAndOnlyBriefly) {
  TempDir dir("browser");
  const std::string browser = dir.str() + "/browser";
  std::ofstream(browser) << "#!/bin/sh\nexec sleep 5\n";
  std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
  setenv(ExternalBrowser::kBrowserVariable, browser.c_str(), 1);
  driver.setSignInBrowserWait(0.3);
  std::ostringstream said;
  using Steady = std::chrono::steady_clock;
  const auto started = Steady::now();
  ASSERT_TRUE(ExternalBrowser::open(*URL::URLWithString("http://127.0.0.1:9/sign-in"), said));
  driver.execute("show");
  const std::chrono::duration<double> took = Steady::now() - started;
  unsetenv(ExternalBrowser::kBrowserVariable);
  EXPECT_GE(took.count(), 0.3);
  EXPECT_LT(took.count(), 2.5);
  EXPECT_GE(ExternalBrowser::signInBrowsersRunning(60), 1u) << "the browser still runs";
  EXPECT_EQ(ExternalBrowser::signInBrowsersRunning(0.3), 0u);
  EXPECT_EQ(said.str(),
            "The sign-in waits in the browser: finish it there, or type 'cancel' to give up. If no page came up, open "
            "this address: http://127.0.0.1:9/sign-in\n");
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

// How overlays draw is the renderer's.
TEST_F(ConsoleTest, AnOverlayThatBlocksTouchesRefusesThemUntilItGoes) {
  bool blocks = false;
  ScreenRenderer::registerOverlay("hud", {[](TextCanvas&) {}, [&] { return blocks; }});
  driver.execute("type emailField ada@example.com");
  blocks = true;
  driver.execute("tap loginButton");
  driver.execute("type passwordField secret");
  blocks = false;
  driver.execute("tap loginButton");
  ScreenRenderer::unregisterOverlay("hud");
  EXPECT_EQ(errors(), (std::vector<std::string>{"! The screen does not take touches now",
                                                "! The screen does not take touches now"}));
  EXPECT_NE(driver.screen().find("Signing in..."), std::string::npos);
}

TEST_F(ConsoleTest, AlertFieldsTakeTextAndTheHandlerReadsThemAfterTheAlertCloses) {
  auto alert = UIAlertController::alertControllerWithTitle("Recover", "Your e-mail:", UIAlertControllerStyle::Alert);
  alert->addTextFieldWithConfigurationHandler([](UITextField& f) { f.setPlaceholder("E-mail"); });
  std::string sent;
  alert->addAction(UIAlertAction::actionWithTitle(
      "Send", UIAlertActionStyle::Default,
      [&, weak = std::weak_ptr(alert)](UIAlertAction&) { sent = *weak.lock()->textFields()[0]->text(); }));
  alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  login()->presentViewController(alert, false);

  driver.execute("type emailField behind");
  EXPECT_EQ(driver.screen().substr(driver.screen().find("+++")),
            "+++ alert: Recover\n  Your e-mail:\n  {(E-mail)} #alertField0\n  [Send] [Cancel]\n");
  driver.execute("type alertField0 ada@example.com");
  driver.execute("alert Send");
  EXPECT_EQ(sent, "ada@example.com");
  EXPECT_EQ(login()->presentedViewController(), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"! An alert is open: answer it with 'alert BUTTON'"}));
}

TEST_F(ConsoleTest, TabsShowTheSelectedStackUnderItsBarAndAboveTheTabBar) {
  auto news = std::make_shared<UIViewController>();
  news->setTitle("News");
  auto profile = std::make_shared<UIViewController>();
  profile->navigationItem()->setTitle("Profile");
  profile->navigationItem()->setLeftBarButtonItem(
      std::make_shared<UIBarButtonItem>("Log out", UIBarButtonItemStyle::Plain));
  auto tabs = std::make_shared<UITabBarController>();
  std::vector<std::shared_ptr<UIViewController>> stacks;
  // Tabs show the navigation controllers' items.
  for (const auto& [top, tab] : {std::pair{news, "News"}, std::pair{profile, "Me"}}) {
    stacks.push_back(std::make_shared<UINavigationController>(top));
    stacks.back()->tabBarItem()->setTitle(tab);
  }
  tabs->setViewControllers(stacks);
  login()->presentViewController(tabs, false);

  EXPECT_EQ(driver.screen(), "=== News ===\ntabs: 0 *News* | 1 Me\n");
  driver.execute("tab 1");
  EXPECT_EQ(driver.screen(), "[Log out] === Profile ===\ntabs: 0 News | 1 *Me*\n");
  driver.execute("tab 2");
  driver.execute("tap Log out");
  EXPECT_EQ(errors(), (std::vector<std::string>{"! Tab 2 cannot be selected"}));
}

TEST_F(ConsoleTest, ControlCharactersAndBrokenUTF8NeverReachTheTerminal) {
  driver.setEchoCommands(true);
  driver.execute("type emailField \xC3\xA9\xFF\x1B[1m\tx\r");
  showAlert(*login(), "Failed", "First line\r\nsecond\x07 line\xC2\x9B");
  EXPECT_EQ(out.str().substr(0, out.str().find('\n') + 1), "> type emailField \u00E9\uFFFD\uFFFD[1m x\n");
  EXPECT_NE(out.str().find("{\u00E9\uFFFD\uFFFD[1m x|} #emailField"), std::string::npos);
  EXPECT_NE(driver.screen().find("+++ alert: Failed\n  First line\n  second\uFFFD line\uFFFD\n  [OK]\n"),
            std::string::npos);
}

TEST_F(ConsoleTest, BidiControlsCannotReorderTheScreen) {
  // Embeddings, overrides and isolates go; their neighbours (separators, spaces, marks) stay.
  showAlert(*login(), "\u202Aa\u202Bb\u202Cc\u202Dd\u202Eevil\u2066e\u2067f\u2068g\u2069",
            "\u2029\u202F\u200F\u2065\u206A");
  EXPECT_NE(driver.screen().find("+++ alert: \uFFFDa\uFFFDb\uFFFDc\uFFFDd\uFFFDevil\uFFFDe\uFFFDf\uFFFDg\uFFFD\n"
                                 "  \u2029\u202F\u200F\u2065\u206A\n"),
            std::string::npos)
      << driver.screen();
}

TEST_F(ConsoleTest, TypedTextKeepsItsBlanksPasswordsStayMaskedAndButtonsAnswerToTheirTitle) {
  driver.setEchoCommands(true);
  driver.execute("type passwordField  a b \r\n");
  showAlert(*login(), "Failed", std::nullopt);
  driver.execute("type passwordField secret");
  driver.execute("alert OK");
  driver.execute("type emailField  ada ");
  driver.execute("tap Log in");
  auto field = std::dynamic_pointer_cast<UITextField>(login()->outlet("passwordField"));
  EXPECT_EQ(field->text(), " a b ");
  EXPECT_EQ(linesStartingWith(out.str(), "> type"),
            (std::vector<std::string>{"> type passwordField \u2022\u2022\u2022\u2022\u2022",
                                      "> type passwordField \u2022\u2022\u2022\u2022\u2022\u2022",
                                      "> type emailField  ada "}));
  EXPECT_NE(driver.screen().find("Signing in..."), std::string::npos);
}

TEST(AlertControllerDeathTest, ProgrammingErrorsStop) {
  auto sheet = UIAlertController::alertControllerWithTitle("Pick", std::nullopt, UIAlertControllerStyle::ActionSheet);
  EXPECT_DEATH(sheet->addTextFieldWithConfigurationHandler(), "UIAlertControllerStyleAlert");
  sheet->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  EXPECT_DEATH(sheet->addAction(UIAlertAction::actionWithTitle("Also cancel", UIAlertActionStyle::Cancel)),
               "only have one action with a style of UIAlertActionStyleCancel");
}

// Gives one line, then fails as a disk read would.
struct BreakingInput : std::streambuf {
  std::string text = "show\n";
  int_type underflow() override {
    if (gptr() == text.data() + text.size()) throw std::ios_base::failure("read error");
    setg(text.data(), text.data(), text.data() + text.size());
    return traits_type::to_int_type(text[0]);
  }
};

TEST_F(ConsoleTest, TypedInputRunsAsAScriptSkipsOverlongLinesAndReportsBrokenInput) {
  const std::string script = "tap loginButton\n" + std::string(64 * 1024 + 1, 'x') + "\nalert OK\nwait 1\nquit\nshow\n";
  std::istringstream typed(script), read(script);
  const auto asScript = drive(read);
  EXPECT_EQ(drive(typed, true), asScript);
  EXPECT_TRUE(asScript.second);
  EXPECT_EQ(linesStartingWith(asScript.first, "!"),
            (std::vector<std::string>{"! Line too long (more than 65536 bytes): skipped"}));
  EXPECT_TRUE(asScript.first.ends_with("> quit\n")) << "the lines after the long one still run";
  for (bool interactive : {false, true}) {
    BreakingInput broken;
    std::istream in(&broken);
    const auto [printed, ok] = drive(in, interactive);
    EXPECT_FALSE(ok);
    EXPECT_NE(printed.find("> show"), std::string::npos) << "what was read before the error runs";
  }
}

TEST_F(ConsoleTest, WaitMovesVirtualTimeAndUnreadableScriptsRunNothing) {
  auto start = time.now();
  driver.execute("wait 2.5");
  EXPECT_DOUBLE_EQ(time.now().timeIntervalSinceDate(start), 2.5);
  out.str("");
  TempDir dir;
  EXPECT_FALSE(driver.runScriptFile("/nonexistent/script.txt"));
  EXPECT_FALSE(driver.runScriptFile(dir.str()));
  EXPECT_EQ(out.str(), "");
}

TEST_F(GadgetsTest, TheGesturesReachTheirViewsAndOnlyTheShownPageIsInReach) {
  driver.execute("tap choose");
  EXPECT_NE(driver.screen().find("(page 1/2) #pages\n[Page one] #choose\n<slider"), std::string::npos)
      << driver.screen();
  driver.execute("page pages 1");
  EXPECT_NE(driver.screen().find("(page 2/2) #pages\n[Page two] #choose\n<slider"), std::string::npos)
      << driver.screen();
  TempDir dir;
  const std::string photo = dir.str() + "/photo.png";
  std::ofstream(photo, std::ios::binary) << encodePNG(Bitmap{1, 1, {255, 0, 0, 255}})->toString();
  for (const std::string& line :
       std::vector<std::string>{"tap choose", "slide volume 0.25", "pull", "link 2", "link https://example.com/a",
                                "pick " + photo, "page pages x", "page volume 1", "slide pages 1", "link 9",
                                "rotate sideways", "rotate landscape", "background", "foreground"}) {
    driver.execute(line);
  }
  gadgets->presentViewController(std::make_shared<UIImagePickerController>(), false);
  driver.execute("pick " + dir.str() + "/missing.png");
  driver.execute("pick " + photo);

  EXPECT_EQ(gadgets->events,
            (std::vector<std::string>{"chose 0", "chose 1", "began 0.50", "moved 0.25", "ended 0.25", "pulled"}));
  EXPECT_EQ(linesStartingWith(out.str(), "(opened"),
            (std::vector<std::string>{"(opened https://example.com/b)", "(opened https://example.com/a)"}));
  EXPECT_EQ(errors(), (std::vector<std::string>{"! No image picker is open", "! Usage: page NAME N",
                                                "! 'volume' does not page", "! 'pages' is not a slider",
                                                "! The page has no link 9", "! Usage: rotate portrait|landscape",
                                                "! '" + dir.str() + "/missing.png' cannot be read"}));
  EXPECT_TRUE(UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->statusBarOrientation()));
  EXPECT_EQ(app->events, (std::vector<std::string>{"background", "foreground"}));
}

// One row in each of two sections.
struct TwoSections : UITableViewDataSource {
  int numberOfSectionsInTableView(UITableView&) override { return 2; }
  int numberOfRowsInSection(UITableView&, int) override { return 1; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& ip) override {
    return table.dequeueReusableCellWithIdentifier("row", ip);
  }
};

TEST_F(GadgetsTest, APageOrSectionThatIsNotThereIsRefusedWithTheOnesThatAre) {
  auto rows = std::make_shared<TwoSections>();
  gadgets->list->registerClass<UITableViewCell>("row");
  gadgets->list->setDataSource(rows);
  for (const char* line : {"page pages 2", "page pages -1", "select 5 0", "select 1 1", "select 1 0"})
    driver.execute(line);
  EXPECT_EQ(errors(),
            (std::vector<std::string>{
                "! 'pages' has no page 2: its pages are 0 to 1", "! 'pages' has no page -1: its pages are 0 to 1",
                "! Section 5 is not there: the table has sections 0 and 1", "! Row 1 cannot be selected"}));
  EXPECT_EQ(gadgets->pages->currentPage(), 0) << "a page past the last moved to the last";
  EXPECT_EQ(gadgets->list->indexPathForSelectedRow(), (NSIndexPath{1, 0}));
}

TEST_F(GadgetsTest, AControlIsTappedByTheTextItPrintsInBrackets) {
  auto selector = std::make_shared<NumberedControl>(CGRect{{0, 360}, {40, 40}});
  selector->setAccessibilityIdentifier("selectorButton2");
  selector->addTarget([&](UIControl&, const UIEvent*) { gadgets->events.push_back("number tapped"); },
                      UIControlEvents::TouchUpInside);
  gadgets->view()->addSubview(selector);
  driver.execute("tap 2");
  EXPECT_EQ(gadgets->events, std::vector<std::string>{"number tapped"});
  EXPECT_TRUE(errors().empty());
}

TEST_F(GadgetsTest, WebAddressesGoToTheBrowserAndTheLineSaysWhetherOneStarted) {
  std::vector<std::string> handed;
  UIApplication::sharedApplication()->setWebBrowser([&](const URL& url) -> tl::expected<void, std::string> {
    handed.push_back(url.absoluteString());
    if (url.absoluteString().ends_with("/b")) return tl::make_unexpected("no display");
    return {};
  });
  driver.execute("show");  // the page loads
  driver.execute("link 1");
  driver.execute("link 2");
  UIApplication::sharedApplication()->openURL(*URL::URLWithString("mailto:someone@example.com"));
  driver.execute("show");
  EXPECT_EQ(handed, (std::vector<std::string>{"https://example.com/a", "https://example.com/b"}));
  EXPECT_EQ(linesStartingWith(out.str(), "(opened"),
            (std::vector<std::string>{"(opened https://example.com/a)", "(opened mailto:someone@example.com)"}));
  EXPECT_EQ(linesStartingWith(out.str(), "(no browser"),
            std::vector<std::string>{"(no browser could open https://example.com/b: no display)"});
}

TEST_F(GadgetsTest, APictureThatTakesTapsShowsItsNameWithOrWithoutAnImage) {
  int taps = 0;
  auto avatar = UIImageView::make();
  avatar->setAccessibilityIdentifier("avatar");
  avatar->setUserInteractionEnabled(true);
  avatar->addGestureRecognizer(UITapGestureRecognizer::make([&](UIGestureRecognizer&) { ++taps; }));
  // Touches off, or no recogniser: not a target, so no name, and nothing at all without a picture.
  auto untouchable = UIImageView::make();
  untouchable->setAccessibilityIdentifier("untouchable");
  untouchable->addGestureRecognizer(UITapGestureRecognizer::make());
  auto plain = UIImageView::make(UIImage::make({2, 2}));
  plain->setAccessibilityIdentifier("plain");
  for (const auto& v : {avatar, untouchable, plain}) gadgets->view()->addSubview(v);

  EXPECT_NE(driver.screen().find("(no picture) #avatar\n(image: " + plain->image()->description() + ")\n"),
            std::string::npos)
      << driver.screen();
  driver.execute("tap avatar");
  avatar->setImage(UIImage::make({3, 3}));
  EXPECT_NE(driver.screen().find("(image: " + avatar->image()->description() + ") #avatar\n"), std::string::npos);
  EXPECT_EQ(driver.screen().find("untouchable"), std::string::npos);
  EXPECT_EQ(taps, 1);
  out.str("");
  driver.execute("help");
  EXPECT_NE(out.str().find("\"(no picture) #name\", takes a tap"), std::string::npos) << out.str();
}

// What the driver prints, as a user reads it on a terminal.
class Terminal : public std::stringbuf {
 public:
  // Waits (bounded) until `text` has been printed.
  void waitFor(const std::string& text) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return shown_.find(text) != std::string::npos; });
  }

 protected:
  int sync() override {
    std::lock_guard lock(mutex_);
    shown_ = str();
    changed_.notify_all();
    return 0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string shown_;
};

// Types "quit" once `before` has run on the reader's thread.
struct Keyboard : std::stringbuf {
  std::function<void()> before;
  int_type underflow() override {
    if (before) {
      std::exchange(before, nullptr)();
      str("quit\n");
    }
    return std::stringbuf::underflow();
  }
};

TEST_F(GadgetsTest, InteractiveUseReprintsAScreenThatChangesWhileNobodyTypes) {
  Terminal terminal;
  Keyboard keyboard;
  // A reply from another thread once the first screen has printed.
  keyboard.before = [&] {
    terminal.waitFor("(page 1/2)");
    RunLoop::main().post([&] { gadgets->status->setText("Reply arrived"); });
    terminal.waitFor("Reply arrived");
  };
  std::ostream shown(&terminal);
  std::istream typed(&keyboard);
  ConsoleDriver(shown, window).runInteractive(typed);
  const auto text = terminal.str();
  ASSERT_NE(text.find("Reply arrived"), std::string::npos);
  EXPECT_EQ(text.find("Reply arrived"), text.rfind("Reply arrived")) << "printed once";
  std::size_t screens = 0;
  for (auto at = text.find("(page 1/2)"); at != std::string::npos; at = text.find("(page 1/2)", at + 1)) ++screens;
  EXPECT_EQ(screens, 2u) << "the first screen and the changed one";
}

TEST_F(GadgetsTest, TheSettleWaitsForTransfersInFlightWithinItsBound) {
  FakeBackend backend;
  backend.reply("GET", "/slow", ScriptedReply{200, {}, "fetched", "text/plain", 0.2});
  backend.reply("GET", "/slower", ScriptedReply{200, {}, "late", "text/plain", 0.5});
  auto fetch = [&](const std::string& path) {
    URLSession::sharedSession()
        ->dataTaskWithRequest(
            URLRequest(*URL::URLWithString(backend.url(path))),
            [status = gadgets->status](std::optional<Data> data, auto, auto) {
              RunLoop::main().post([status, data] { status->setText(data ? data->toString() : "?"); });
            })
        ->resume();
  };
  fetch("slow");
  driver.execute("show");
  EXPECT_EQ(gadgets->status->text(), "fetched");

  fetch("slower");
  driver.setSettleTimeout(0.1);
  driver.execute("show");
  EXPECT_EQ(errors(), std::vector<std::string>{"! The network is still busy after 0.1 s: the screen may change later"});
  EXPECT_TRUE(RunLoop::main().runUntil([] { return URLSession::transfersInFlight() == 0; }, 10));
}

// Lines handed out one at a time, each taps the counter, the last quits; notes how far reading ran
// ahead of the taps.
struct CountedLines : std::streambuf {
  CountedLines(int lines, const std::atomic<int>& taps) : total(lines), tapped(taps) {}
  int_type underflow() override {
    if (handed == total) return traits_type::eof();
    line = ++handed == total ? "quit\n" : "tap counter\n";
    readAhead = std::max(readAhead, handed - tapped.load());
    setg(line.data(), line.data(), line.data() + line.size());
    return traits_type::to_int_type(line[0]);
  }
  const int total;
  const std::atomic<int>& tapped;
  int handed = 0;
  int readAhead = 0;
  std::string line;
};

TEST_F(GadgetsTest, InputFasterThanTheCommandsWaitsAndAFailingCommandEndsOnlyItself) {
  std::atomic<int> tapped = 0;
  for (const auto& named : std::vector<std::pair<std::string, std::function<void()>>>{
           {"counter", [&] { ++tapped; }}, {"thrower", [] { throw std::runtime_error("out of memory"); }}}) {
    auto button = UIButton::make(CGRect{{0, 360}, {100, 40}});
    button->setAccessibilityIdentifier(named.first);
    button->addTarget([action = named.second](UIControl&, const UIEvent*) { action(); },
                      UIControlEvents::TouchUpInside);
    gadgets->view()->addSubview(button);
  }
  driver.execute("tap thrower");
  EXPECT_EQ(errors(), std::vector<std::string>{"! The command failed: out of memory"});
  CountedLines lines(300, tapped);
  std::istream typed(&lines);
  driver.runInteractive(typed);
  EXPECT_EQ(tapped, 299);
  EXPECT_LE(lines.readAhead, 8) << "lines read ahead are bounded";
}

}  // namespace
