#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "controller_test_support.h"
#include "platform/foundation/run_loop.h"
#include "platform/net/url_session.h"
#include "platform/ui/console_driver.h"
#include "platform/ui/image_codec.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_image_picker_controller.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_refresh_control.h"
#include "platform/ui/ui_slider.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_window.h"
#include "platform/ui/wk_web_view.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"

namespace {

// Two pages side by side with a button of the same name on each, a slider, a refreshable list, a
// web page whose links open outside, and a label that a fetch fills in.
class Gadgets : public UIViewController, public WKNavigationDelegate {
 public:
  void viewDidLoad() override {
    auto root = view();
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
      root->addSubview(v);
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

class LifeCycle : public UIApplicationDelegate {
 public:
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

class ConsoleCommandsTest : public ControllerTest {
 protected:
  ConsoleCommandsTest() {
    UIApplication::sharedApplication()->setDelegate(lifeCycle);
    window->setRootViewController(gadgets);
    window->makeKeyAndVisible();
    driver.setEchoCommands(false);
  }

  std::shared_ptr<LifeCycle> lifeCycle = std::make_shared<LifeCycle>();
  std::shared_ptr<Gadgets> gadgets = std::make_shared<Gadgets>();
  std::shared_ptr<UIWindow> window = UIWindow::make();
  std::ostringstream out;
  ConsoleDriver driver{out, window};
};

TEST_F(ConsoleCommandsTest, TheNewGesturesReachTheirViewsAndOnlyTheShownPageIsInReach) {
  driver.execute("tap choose");
  EXPECT_NE(driver.screen().find("(page 1/2)\n[Page one] #choose\n<slider"), std::string::npos) << driver.screen();
  driver.execute("page pages 1");
  driver.execute("tap choose");
  EXPECT_NE(driver.screen().find("(page 2/2)\n[Page two] #choose\n<slider"), std::string::npos) << driver.screen();
  driver.execute("slide volume 0.25");
  driver.execute("pull");
  driver.execute("link 2");
  driver.execute("link https://example.com/a");
  TempDir dir;
  const std::string photo = dir.str() + "/photo.png";
  std::ofstream(photo, std::ios::binary) << encodePNG(Bitmap{1, 1, {255, 0, 0, 255}})->toString();
  for (const std::string& line :
       std::vector<std::string>{"pick " + photo, "page pages x", "page volume 1", "slide pages 1", "link 9",
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
  EXPECT_EQ(linesStartingWith(out.str(), "!"),
            (std::vector<std::string>{"! No image picker is open", "! Usage: page NAME N", "! 'volume' does not page",
                                      "! 'pages' is not a slider", "! The page has no link 9",
                                      "! Usage: rotate portrait|landscape",
                                      "! Not a PNG, JPEG or GIF image: '" + dir.str() + "/missing.png'"}));
  EXPECT_TRUE(UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->statusBarOrientation()));
  EXPECT_EQ(lifeCycle->events, (std::vector<std::string>{"background", "foreground"}));
}

// Hands out its lines one at a time. Before the last one, once the driver has printed
// `printsBefore` times, it runs `meanwhile` and waits (bounded) until `awaited` is printed.
class PacedInput : public std::streambuf {
 public:
  PacedInput(std::vector<std::string> lines, int printsBefore, std::function<void()> meanwhile, std::string awaited)
      : lines_(std::move(lines)),
        printsBefore_(printsBefore),
        meanwhile_(std::move(meanwhile)),
        awaited_(std::move(awaited)) {}

  void printed(const std::string& text) {
    std::lock_guard lock(mutex_);
    seen_ = text;
    ++prints_;
    changed_.notify_all();
  }

 protected:
  int_type underflow() override {
    if (next_ == lines_.size()) return traits_type::eof();
    if (next_ + 1 == lines_.size()) {
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, std::chrono::seconds(10), [&] { return prints_ >= printsBefore_; });
      meanwhile_();
      changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_.find(awaited_) != std::string::npos; });
    }
    current_ = lines_[next_++] + "\n";
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(current_[0]);
  }

 private:
  std::vector<std::string> lines_;
  int printsBefore_;
  std::function<void()> meanwhile_;
  std::string awaited_;
  int prints_ = 0;
  std::size_t next_ = 0;
  std::string current_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string seen_;
};

// Passes what the driver prints on to the input, as a user reads the terminal.
class Watched : public std::stringbuf {
 public:
  explicit Watched(PacedInput& input) : input_(input) {}

 protected:
  int sync() override {
    input_.printed(str());
    return 0;
  }

 private:
  PacedInput& input_;
};

TEST_F(ConsoleCommandsTest, InteractiveUseReprintsAScreenThatChangesWhileNobodyTypes) {
  // A reply from another thread once the first screen and the command's have printed.
  PacedInput input(
      {"show", "quit"}, 2, [&] { RunLoop::main().post([&] { gadgets->status->setText("Reply arrived"); }); },
      "Reply arrived");
  Watched watched(input);
  std::ostream terminal(&watched);
  std::istream typed(&input);
  ConsoleDriver interactive(terminal, window);
  interactive.setEchoCommands(false);
  interactive.runInteractive(typed);
  auto text = watched.str();
  ASSERT_NE(text.find("Reply arrived"), std::string::npos);
  EXPECT_EQ(text.find("Reply arrived"), text.rfind("Reply arrived")) << "printed once";
  std::size_t screens = 0;
  for (auto at = text.find("(page 1/2)"); at != std::string::npos; at = text.find("(page 1/2)", at + 1)) ++screens;
  EXPECT_EQ(screens, 3u) << "the first screen, the command's, and the changed one";
}

TEST_F(ConsoleCommandsTest, TheSettleWaitsForTransfersInFlightWithinItsBound) {
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
  auto button = UIButton::make(CGRect{{0, 400}, {100, 40}});
  button->setAccessibilityIdentifier("fetch");
  button->addTarget([&](UIControl&, const UIEvent*) { fetch("slow"); }, UIControlEvents::TouchUpInside);
  gadgets->view()->addSubview(button);

  driver.execute("tap fetch");
  EXPECT_EQ(gadgets->status->text(), "fetched");

  fetch("slower");
  driver.setSettleTimeout(0.1);
  driver.execute("show");
  EXPECT_EQ(linesStartingWith(out.str(), "!"),
            std::vector<std::string>{"! The network is still busy after 0.1 s: the screen may change later"});
  EXPECT_TRUE(RunLoop::main().runUntil([] { return URLSession::transfersInFlight() == 0; }, 10));
}

}  // namespace
