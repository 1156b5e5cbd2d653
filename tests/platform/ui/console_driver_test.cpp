#include "platform/ui/console_driver.h"

#include <gtest/gtest.h>

#include <ios>
#include <sstream>
#include <streambuf>

#include "controller_test_support.h"
#include "platform/foundation/run_loop.h"
#include "platform/ui/render.h"
#include "platform/ui/screen_renderer.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_table_view_cell.h"
#include "platform/ui/ui_table_view_row_action.h"
#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_window.h"
#include "support/temp_dir.h"

namespace {

void showAlert(UIViewController& on, const std::string& title, std::optional<std::string> message,
               UIAlertAction::Handler ok = {}) {
  auto alert = UIAlertController::alertControllerWithTitle(title, std::move(message), UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, std::move(ok)));
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
    auto self = sharedAs<DemoLogin>();
    RunLoop::main().scheduledTimer(1.0, false, [self](Timer&) {
      self->statusLabel.lock()->setText("Signed in");
      self->performSegueWithIdentifier("showList", nullptr);
    });
  }

  void prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>&) override;

  std::weak_ptr<UITextField> emailField;
  std::weak_ptr<UITextField> passwordField;
  std::weak_ptr<UILabel> statusLabel;
};

class DemoList : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  explicit DemoList(const NSCoder&) {}

  void viewDidLoad() override {
    navigationItem()->setTitle("Subjects");
    greetingLabel.lock()->setText("Hello, " + user);
  }

  int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(subjects.size()); }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& ip) override {
    auto cell = table.dequeueReusableCellWithIdentifier("subject", ip);
    cell->textLabel()->setText(subjects.at(static_cast<std::size_t>(ip.row)));
    return cell;
  }
  void didSelectRowAtIndexPath(UITableView&, const NSIndexPath& ip) override {
    auto subject = subjects.at(static_cast<std::size_t>(ip.row));
    showAlert(*this, "Open " + subject + "?", std::nullopt,
              [this, subject](UIAlertAction&) { greetingLabel.lock()->setText("Opened " + subject); });
  }
  bool canEditRowAtIndexPath(UITableView&, const NSIndexPath&) override { return true; }
  std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(
      UITableView&, const NSIndexPath&) override {
    return std::vector{UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, "Delete",
                                                                [this](UITableViewRowAction&, const NSIndexPath& ip) {
                                                                  subjects.erase(subjects.begin() + ip.row);
                                                                  tableView.lock()->reloadData();
                                                                })};
  }

  std::string user;
  std::vector<std::string> subjects{"Algebra", "Geometry", "Physics"};
  std::weak_ptr<UILabel> greetingLabel;
  std::weak_ptr<UITableView> tableView;
};

void DemoLogin::prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>&) {
  if (segue.identifier() == "showList") {
    std::dynamic_pointer_cast<DemoList>(segue.destinationViewController())->user = *emailField.lock()->text();
  }
}

void registerDemoStoryboard() {
  registerViewControllerClass<DemoLogin>("DemoLogin");
  registerViewControllerClass<DemoList>("DemoList");
  UIStoryboardScene root{"root", "UINavigationController", {"login"}, {}, {}};
  UIStoryboardScene login{
      "login", "DemoLogin", {}, {{"showList", "list", UIStoryboardSegueKind::Show}}, [](UIStoryboardSceneBuilder& b) {
        auto& vc = b.controllerAs<DemoLogin>();
        vc.statusLabel = b.add<UILabel>(b.view(), "statusLabel");
        auto email = b.add<UITextField>(b.view(), "emailField");
        email->setPlaceholder("E-mail");
        vc.emailField = email;
        auto password = b.add<UITextField>(b.view(), "passwordField");
        password->setPlaceholder("Password");
        password->setSecureTextEntry(true);
        vc.passwordField = password;
        auto button = b.add<UIButton>(b.view(), "loginButton");
        button->setTitle("Log in", UIControlState::Normal);
        b.action<DemoLogin>(button, "loginTap:", UIControlEvents::TouchUpInside,
                            [](DemoLogin& c, UIControl& s) { c.loginTap(s); });
      }};
  UIStoryboardScene list{"list", "DemoList", {}, {}, [](UIStoryboardSceneBuilder& b) {
                           auto vc = b.controllerAs<DemoList>().sharedAs<DemoList>();
                           vc->greetingLabel = b.add<UILabel>(b.view(), "greetingLabel");
                           auto table = b.add<UITableView>(b.view(), "tableView");
                           table->registerClass<UITableViewCell>("subject");
                           table->setDataSource(std::static_pointer_cast<UITableViewDataSource>(vc));
                           table->setDelegate(std::static_pointer_cast<UITableViewDelegate>(vc));
                           vc->tableView = table;
                         }};
  UIStoryboard::registerStoryboard("Demo", "root", {root, login, list});
}

class OpensDemoLinks : public UIApplicationDelegate {
 public:
  bool applicationOpenURL(UIApplication&, const URL& url, const std::optional<std::string>&, const Value&) override {
    return url.scheme() == "demo";
  }
};

class ConsoleDriverTest : public ControllerTest {
 protected:
  ConsoleDriverTest() {
    registerDemoStoryboard();
    UIApplication::sharedApplication()->setDelegate(std::make_shared<OpensDemoLinks>());
    window->setRootViewController(UIStoryboard::storyboardWithName("Demo")->instantiateInitialViewController());
    window->makeKeyAndVisible();
  }
  ~ConsoleDriverTest() override { UIStoryboard::unregisterStoryboard("Demo"); }

  std::string run(const std::string& script) {
    std::ostringstream out;
    ConsoleDriver driver(out);
    std::istringstream in(script);
    driver.run(in);
    return out.str();
  }

  std::shared_ptr<UIWindow> window = UIWindow::make();
};

TEST_F(ConsoleDriverTest, ADemoSceneIsDrivenEntirelyByAScript) {
  const std::string script = R"(# a whole visit
tap loginButton
alert OK
type emailField ada@example.com
type passwordField secret
tap Help
alert OK
tap loginButton
wait 1
select 1
alert OK
swipe 1 0 Delete
swipe 0 Delete
back
quit
show
)";
  // The two screens as printed: the form (status, then what the fields show) and the list.
  auto form = [](const std::string& status, const std::string& email, const std::string& password) {
    return "=== Sign in === [Help]\n" + status + "\n{" + email + "} #emailField\n{" + password +
           "} #passwordField\n[Log in] #loginButton\n";
  };
  auto list = [](const std::string& greeting, const std::string& rows) {
    return "[< Sign in] === Subjects ===\n" + greeting + "\n" + rows;
  };
  const std::string login = form("Please sign in", "(E-mail)", "(Password)");
  const std::string typed = form("Please sign in", "ada@example.com", "••••••|");
  const std::string hello = "Hello, ada@example.com", opened = "Opened Geometry";
  const std::string selected = "0. Algebra\n1. Geometry (selected)\n2. Physics\n";
  EXPECT_EQ(run(script), login + "> tap loginButton\n" + login + "+++ alert: Missing e-mail\n  [OK]\n" +
                             "> alert OK\n" + login + "> type emailField ada@example.com\n" +
                             form("Please sign in", "ada@example.com|", "(Password)") +
                             "> type passwordField ••••••\n" + typed + "> tap Help\n" + typed +
                             "+++ alert: Help\n  Type an e-mail and a password.\n  [OK]\n> alert OK\n" + typed +
                             "> tap loginButton\n" + form("Signing in...", "ada@example.com", "••••••|") +
                             "> wait 1\n" + list(hello, "0. Algebra\n1. Geometry\n2. Physics\n") + "> select 1\n" +
                             list(hello, selected) + "+++ alert: Open Geometry?\n  [OK]\n" + "> alert OK\n" +
                             list(opened, selected) + "> swipe 1 0 Delete\n! Row 1.0 has no action 'Delete'\n" +
                             list(opened, selected) + "> swipe 0 Delete\n" + list(opened, "0. Geometry\n1. Physics\n") +
                             "> back\n" + form("Signed in", "ada@example.com", "••••••") + "> quit\n");
}

// The lines the driver printed that start with `prefix`.
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

TEST_F(ConsoleDriverTest, CommandsThatCannotRunSayWhyAndTheDriverGoesOn) {
  auto output = run(R"(tap Help
tap loginButton
select 0
back
alert Cancel
alert OK
alert OK
swipe 0 Delete
select 0 x
tab 0
type statusLabel hi
tap nothingHere
fly away
back
open demo://hello
open https://example.com
open not a url
wait soon
wait -1
wait 601
type emailField still here
)");
  EXPECT_EQ(linesStartingWith(output, "!"), (std::vector<std::string>{
                                                "! An alert is open: answer it with 'alert BUTTON'",
                                                "! An alert is open: answer it with 'alert BUTTON'",
                                                "! An alert is open: answer it with 'alert BUTTON'",
                                                "! The alert has no button 'Cancel'",
                                                "! No alert is open",
                                                "! There is no table on screen",
                                                "! Usage: select ROW, or select SECTION ROW",
                                                "! There is no tab bar on screen",
                                                "! 'statusLabel' is not a text field",
                                                "! Nothing named 'nothingHere' on screen",
                                                "! Unknown command 'fly': 'help' lists the commands",
                                                "! There is no back button",
                                                "! Not a URL: 'not a url'",
                                                "! Usage: wait SECONDS (at most 600)",
                                                "! Usage: wait SECONDS (at most 600)",
                                                "! Usage: wait SECONDS (at most 600)",
                                            }));
  EXPECT_EQ(linesStartingWith(output, "The application"),
            (std::vector<std::string>{"The application opened demo://hello",
                                      "The application did not open https://example.com"}));
  EXPECT_NE(output.find("{still here|} #emailField"), std::string::npos);
}

TEST_F(ConsoleDriverTest, OverlaysDrawOnTopAndMayBlockTouches) {
  bool shown = false;
  ScreenRenderer::registerOverlay("hud", {[&](TextCanvas& c) {
                                            if (shown) c.line("(( progress ))");
                                          },
                                          [&] { return shown; }});
  std::ostringstream out;
  ConsoleDriver driver(out, window);
  driver.setEchoCommands(false);
  EXPECT_TRUE(driver.execute("type emailField ada@example.com"));
  shown = true;
  EXPECT_TRUE(driver.execute("tap loginButton"));
  EXPECT_TRUE(driver.execute("type passwordField secret"));
  shown = false;
  EXPECT_TRUE(driver.execute("tap loginButton"));
  EXPECT_FALSE(driver.execute("quit"));
  EXPECT_FALSE(driver.execute("show"));
  ScreenRenderer::unregisterOverlay("hud");

  EXPECT_EQ(linesStartingWith(out.str(), "!"), (std::vector<std::string>{"! The screen does not take touches now",
                                                                         "! The screen does not take touches now"}));
  EXPECT_EQ(linesStartingWith(out.str(), "(("), (std::vector<std::string>{"(( progress ))", "(( progress ))"}));
  EXPECT_NE(out.str().find("Signing in..."), std::string::npos);
  EXPECT_EQ(driver.screen().find("(("), std::string::npos);
}

TEST_F(ConsoleDriverTest, AlertFieldsTakeTextAndTheHandlerReadsThemAfterTheAlertCloses) {
  auto nav = std::dynamic_pointer_cast<UINavigationController>(window->rootViewController());
  auto login = nav->topViewController();
  auto alert = UIAlertController::alertControllerWithTitle("Recover", "Your e-mail:", UIAlertControllerStyle::Alert);
  alert->addTextFieldWithConfigurationHandler([](UITextField& f) { f.setPlaceholder("E-mail"); });
  std::string sent;
  alert->addAction(UIAlertAction::actionWithTitle(
      "Send", UIAlertActionStyle::Default,
      [&, weak = std::weak_ptr(alert)](UIAlertAction&) { sent = *weak.lock()->textFields()[0]->text(); }));
  alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  login->presentViewController(alert, false);

  std::ostringstream out;
  ConsoleDriver driver(out, window);
  driver.setEchoCommands(false);
  driver.execute("type emailField behind");
  EXPECT_EQ(driver.screen().substr(driver.screen().find("+++")),
            "+++ alert: Recover\n"
            "  Your e-mail:\n"
            "  {(E-mail)} #alertField0\n"
            "  [Send] [Cancel]\n");
  driver.execute("type alertField0 ada@example.com");
  driver.execute("alert Send");
  EXPECT_EQ(sent, "ada@example.com");
  EXPECT_EQ(login->presentedViewController(), nullptr);
  EXPECT_EQ(linesStartingWith(out.str(), "!"),
            (std::vector<std::string>{"! An alert is open: answer it with 'alert BUTTON'"}));
}

TEST_F(ConsoleDriverTest, TabsShowTheSelectedStackUnderItsBarAndAboveTheTabBar) {
  auto tabs = std::make_shared<UITabBarController>();
  auto first = std::make_shared<UIViewController>();
  first->setTitle("News");
  auto second = std::make_shared<UIViewController>();
  second->navigationItem()->setTitle("Profile");
  second->navigationItem()->setLeftBarButtonItem(
      std::make_shared<UIBarButtonItem>("Log out", UIBarButtonItemStyle::Plain));
  auto secondNav = std::make_shared<UINavigationController>(second);
  secondNav->tabBarItem()->setTitle("Me");
  auto firstNav = std::make_shared<UINavigationController>(first);
  firstNav->tabBarItem()->setTitle("News");  // tabs show the navigation controllers' items
  tabs->setViewControllers({firstNav, secondNav});
  auto login = std::dynamic_pointer_cast<UINavigationController>(window->rootViewController())->topViewController();
  login->presentViewController(tabs, false);

  std::ostringstream out;
  ConsoleDriver driver(out, window);
  driver.setEchoCommands(false);
  EXPECT_EQ(driver.screen(), "=== News ===\ntabs: 0 *News* | 1 Me\n");
  driver.execute("tab 1");
  EXPECT_EQ(driver.screen(), "[Log out] === Profile ===\ntabs: 0 News | 1 *Me*\n");
  driver.execute("tab 2");
  driver.execute("tap Log out");
  EXPECT_EQ(linesStartingWith(out.str(), "!"), (std::vector<std::string>{"! Tab 2 cannot be selected"}));
}

TEST_F(ConsoleDriverTest, ControlCharactersAndBrokenUTF8NeverReachTheTerminal) {
  auto login = std::dynamic_pointer_cast<UINavigationController>(window->rootViewController())->topViewController();
  std::ostringstream out;
  ConsoleDriver driver(out, window);
  driver.execute("type emailField \xC3\xA9\xFF\x1B[1m\tx\r");
  showAlert(*login, "Failed", "First line\r\nsecond\x07 line\xC2\x9B");
  EXPECT_EQ(out.str().substr(0, out.str().find('\n') + 1), "> type emailField \u00E9\uFFFD\uFFFD[1m x\n");
  EXPECT_NE(out.str().find("{\u00E9\uFFFD\uFFFD[1m x|} #emailField"), std::string::npos);
  EXPECT_NE(driver.screen().find("+++ alert: Failed\n  First line\n  second\uFFFD line\uFFFD\n  [OK]\n"),
            std::string::npos);
}

TEST(AlertControllerDeathTest, ProgrammingErrorsStop) {
  auto sheet = UIAlertController::alertControllerWithTitle("Pick", std::nullopt, UIAlertControllerStyle::ActionSheet);
  EXPECT_DEATH(sheet->addTextFieldWithConfigurationHandler(), "UIAlertControllerStyleAlert");
  sheet->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  EXPECT_DEATH(sheet->addAction(UIAlertAction::actionWithTitle("Also cancel", UIAlertActionStyle::Cancel)),
               "only have one action with a style of UIAlertActionStyleCancel");
}

TEST_F(ConsoleDriverTest, InteractiveInputGivesTheSameTranscriptAsAScript) {
  const std::string script = "tap loginButton\nalert OK\nwait 1\nquit\nshow\n";
  std::ostringstream interactive;
  std::istringstream in(script);
  ConsoleDriver(interactive).runInteractive(in);
  EXPECT_EQ(interactive.str(), run(script));
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

TEST_F(ConsoleDriverTest, OverlongLinesAreSkippedAndBrokenInputIsReported) {
  const std::string script = "show\n" + std::string(64 * 1024 + 1, 'x') + "\nquit\n";
  for (bool interactive : {false, true}) {
    std::ostringstream out;
    std::istringstream in(script);
    ConsoleDriver driver(out);
    EXPECT_TRUE(interactive ? driver.runInteractive(in) : driver.run(in));
    EXPECT_EQ(linesStartingWith(out.str(), "!"),
              (std::vector<std::string>{"! Line too long (more than 65536 bytes): skipped"}));
    EXPECT_TRUE(driver.hasQuit()) << "the line after the long one still runs";

    BreakingInput broken;
    std::istream brokenIn(&broken);
    std::ostringstream brokenOut;
    ConsoleDriver brokenDriver(brokenOut);
    EXPECT_FALSE(interactive ? brokenDriver.runInteractive(brokenIn) : brokenDriver.run(brokenIn));
    EXPECT_NE(brokenOut.str().find("> show"), std::string::npos) << "what was read before the error runs";
  }
}

TEST_F(ConsoleDriverTest, WaitMovesVirtualTimeAndUnreadableScriptsRunNothing) {
  std::ostringstream out;
  ConsoleDriver driver(out);
  auto start = time.now();
  driver.execute("wait 2.5");
  EXPECT_DOUBLE_EQ(time.now().timeIntervalSinceDate(start), 2.5);
  out.str("");
  TempDir dir("console_driver");
  for (const std::string& path : {std::string("/nonexistent/script.txt"), dir.str()}) {
    EXPECT_FALSE(driver.runScriptFile(path)) << path;
  }
  EXPECT_EQ(out.str(), "");
}

}  // namespace
