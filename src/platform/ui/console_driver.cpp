#include "platform/ui/console_driver.h"

#include "platform/foundation/ascii.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <istream>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include <fmt/format.h>

#include "platform/foundation/date.h"
#include "platform/foundation/run_loop.h"
#include "platform/foundation/url.h"
#include "platform/net/url_session.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/render.h"
#include "platform/ui/screen_renderer.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_collection_view.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_image_picker_controller.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_refresh_control.h"
#include "platform/ui/ui_search_bar.h"
#include "platform/ui/ui_slider.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_window.h"
#include "platform/ui/web_content_view.h"

namespace {

// First word, and the rest of the text without its leading blanks.
std::pair<std::string, std::string> splitFirst(const std::string& text) {
  auto t = std::string(trimAsciiWhitespace(text));
  auto space = t.find_first_of(" \t");
  if (space == std::string::npos) return {t, ""};
  return {t.substr(0, space), std::string(trimAsciiWhitespace(std::string_view(t).substr(space)))};
}

// NAME and TEXT of "NAME TEXT": TEXT is everything after the one blank that ends NAME, its own
// blanks included (a password may begin or end with one).
std::pair<std::string, std::string> splitTyped(const std::string& arguments) {
  auto space = arguments.find_first_of(" \t");
  if (space == std::string::npos) return {arguments, ""};
  return {arguments.substr(0, space), arguments.substr(space + 1)};
}

std::string_view withoutLeadingBlanks(std::string_view text) {
  text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
  return text;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// A command is a few words; a longer line is no command and must not grow the process.
constexpr std::size_t kMaxLineLength = 64 * 1024;
// Lines read ahead of the command that runs.
constexpr std::size_t kMaxQueuedLines = 4;

enum class LineRead { Line, TooLong, End };

// The next line of `in` without its newline, at most kMaxLineLength bytes of it: the rest of a
// longer line is read and dropped. End when nothing is left or the input broke (in.bad()).
LineRead readLine(std::istream& in, std::string& line) {
  line.clear();
  bool read = false;
  bool tooLong = false;
  for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
    read = true;
    if (c == '\n') break;
    if (line.size() < kMaxLineLength) {
      line += static_cast<char>(c);
    } else {
      tooLong = true;
    }
  }
  if (!read) return LineRead::End;
  return tooLong ? LineRead::TooLong : LineRead::Line;
}

std::optional<int> parseIndex(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return std::stoi(text);
}

// The controllers the user sees, from the top of the presented chain down through the shown child
// of each container.
std::vector<std::shared_ptr<UIViewController>> visiblePath(const UIWindow& window) {
  std::vector<std::shared_ptr<UIViewController>> path;
  auto c = window.topPresentedViewController();
  while (c) {
    path.push_back(c);
    std::shared_ptr<UIViewController> shown;
    if (auto* nav = dynamic_cast<UINavigationController*>(c.get())) {
      shown = nav->topViewController();
    } else if (auto* tabs = dynamic_cast<UITabBarController*>(c.get())) {
      shown = tabs->selectedViewController();
    }
    c = shown;
  }
  return path;
}

void collectOnScreen(const std::shared_ptr<UIViewController>& c, std::vector<std::shared_ptr<UIViewController>>& out) {
  out.push_back(c);
  for (const auto& child : c->childViewControllersOnScreen()) collectOnScreen(child, out);
}

// Depth-first, the first visible view of type T that `accept` takes, leaving out what a paged
// scroll view does not show.
template <class T>
std::shared_ptr<T> findFirst(
    const std::shared_ptr<UIView>& root, const std::function<bool(const T&)>& accept = [](const T&) { return true; }) {
  if (!root || root->isHidden() || !root->isWithinShownContent()) return nullptr;
  if (auto typed = std::dynamic_pointer_cast<T>(root); typed && accept(*typed)) return typed;
  for (const auto& sub : root->subviews()) {
    if (auto found = findFirst<T>(sub, accept)) return found;
  }
  return nullptr;
}

// The list `select` picks, the first table else the first collection. What a list holds (its
// items, perhaps 100,000 of them) is not looked into: the list is what is addressed.
std::shared_ptr<UIView> findList(const std::shared_ptr<UIView>& view, bool wantTable) {
  if (!view || view->isHidden() || !view->isWithinShownContent()) return nullptr;
  const bool table = dynamic_cast<UITableView*>(view.get()) != nullptr;
  if (table || dynamic_cast<UICollectionView*>(view.get())) return table == wantTable ? view : nullptr;
  for (const auto& sub : view->subviews()) {
    if (auto found = findList(sub, wantTable)) return found;
  }
  return nullptr;
}

std::shared_ptr<UIAlertController> openAlert(const UIWindow& window) {
  return std::dynamic_pointer_cast<UIAlertController>(window.topPresentedViewController());
}

// Where names are looked up: the view of the top of the presented chain.
std::shared_ptr<UIView> searchRoot(const UIWindow& window) {
  auto top = window.topPresentedViewController();
  if (top && top->viewIfLoaded() && top->viewIfLoaded()->window()) return top->viewIfLoaded();
  return nullptr;
}

std::shared_ptr<UIView> findView(const UIWindow& window, const std::string& name) {
  auto top = window.topPresentedViewController();
  auto root = searchRoot(window);
  if (!top || !root) return nullptr;
  std::vector<std::shared_ptr<UIViewController>> onScreen;
  collectOnScreen(top, onScreen);
  for (const auto& c : onScreen) {
    auto v = c->outlet(name);
    if (v && v->window() && v->isVisibleInTree() && v->isWithinShownContent()) return v;
  }
  return root->viewWithAccessibilityIdentifier(name);
}

// The text field named `name` in any controller of the presented chain, shown or covered.
std::shared_ptr<UITextField> findTextFieldAnywhere(const UIWindow& window, const std::string& name) {
  for (auto c = window.rootViewController(); c; c = c->presentedViewController()) {
    std::vector<std::shared_ptr<UIViewController>> controllers;
    collectOnScreen(c, controllers);
    for (const auto& each : controllers) {
      if (auto field = std::dynamic_pointer_cast<UITextField>(each->outlet(name))) return field;
      auto root = each->viewIfLoaded();
      if (auto field =
              root ? std::dynamic_pointer_cast<UITextField>(root->viewWithAccessibilityIdentifier(name)) : nullptr)
        return field;
    }
  }
  return nullptr;
}

std::shared_ptr<UINavigationController> visibleNavigationController(const UIWindow& window) {
  auto path = visiblePath(window);
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(*it)) return nav;
  }
  return nullptr;
}

std::shared_ptr<UIBarButtonItem> findBarButtonItem(const UIWindow& window, const std::string& name) {
  auto nav = visibleNavigationController(window);
  if (!nav || !nav->isViewLoaded() || nav->navigationBar()->isHidden()) return nullptr;
  for (const auto& item : nav->navigationBar()->visibleBarButtonItems()) {
    if (item->displayTitle() == name || item->accessibilityIdentifier() == name) return item;
  }
  return nullptr;
}

std::optional<double> parseNumber(const std::string& text) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

// "Section 5 is not there: the table has sections 0 and 1".
std::string missingSection(int section, const char* list, int sections) {
  std::string there = "no sections";
  if (sections == 1) there = "only section 0";
  if (sections == 2) there = "sections 0 and 1";
  if (sections > 2) there = fmt::format("sections 0 to {}", sections - 1);
  return fmt::format("Section {} is not there: the {} has {}", section, list, there);
}

constexpr const char* kAlertOpen = "An alert is open: answer it with 'alert BUTTON'";

// Changes seen while nobody types print at most this often (seconds), so a ticking timer cannot
// flood the terminal.
constexpr double kReprintInterval = 0.5;

}  // namespace

ConsoleDriver::ConsoleDriver(std::ostream& out, std::shared_ptr<UIWindow> window)
    : out_(out), window_(std::move(window)) {}

ConsoleDriver::~ConsoleDriver() = default;

std::shared_ptr<UIWindow> ConsoleDriver::window() const {
  return window_ ? window_ : UIApplication::sharedApplication()->keyWindow();
}

std::string ConsoleDriver::screen() const {
  auto w = window();
  if (!w) return "(no window)\n";
  return ScreenRenderer::render(*w);
}

void ConsoleDriver::message(const std::string& text) {
  out_ << "! " << text << "\n";
  if (!firstMessage_) firstMessage_ = text;
}

void ConsoleDriver::noteFailure(const std::string& command) {
  if (!firstMessage_) return;
  if (++failures_.count == 1) {
    failures_.line = line_;
    failures_.command = command;
    failures_.message = *firstMessage_;
  }
  firstMessage_.reset();
}

void ConsoleDriver::settle() {
  if (settle_) return settle_();
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::duration<double>(settleTimeout_);
  auto& loop = RunLoop::main();
  while (true) {
    loop.runUntilIdle();
    if (auto w = window()) w->layoutOnScreenIfNeeded();
    loop.runUntilIdle();
    const bool busy = URLSession::transfersInFlight() > 0;
    // A browser that answers a sign-in at once brings its answer to this screen; one left open
    // for the user is no reason to hold the console.
    if (!busy && ExternalBrowser::signInBrowsersRunning(signInBrowserWait_) == 0) return;
    const std::chrono::duration<double> left = deadline - Steady::now();
    if (left.count() <= 0) {
      if (!busy) return;
      return message(
          fmt::format("The network is still busy after {:g} s: the screen may change later", settleTimeout_));
    }
    loop.runOnce(std::min(0.05, left.count()));
  }
}

void ConsoleDriver::printOpenedURLs() {
  auto application = UIApplication::sharedApplication();
  if (application != application_.lock()) {
    application_ = application;
    openedPrinted_ = 0;
  }
  const auto& opened = application->urlOpenings();
  for (; openedPrinted_ < opened.size(); ++openedPrinted_) {
    const auto& opening = opened[openedPrinted_];
    const auto address = printableText(opening.url.absoluteString());
    if (opening.failure) {
      out_ << "(no browser could open " << address << ": " << printableText(*opening.failure) << ")\n";
    } else {
      out_ << "(opened " << address << ")\n";
    }
  }
}

void ConsoleDriver::printScreen() {
  printOpenedURLs();
  lastPrinted_ = screen();
  out_ << lastPrinted_;
  out_.flush();
}

bool ConsoleDriver::printIfChanged() {
  if (auto w = window()) w->layoutOnScreenIfNeeded();
  auto application = UIApplication::sharedApplication();
  bool opened = application != application_.lock() || application->urlOpenings().size() > openedPrinted_;
  if (!opened && screen() == lastPrinted_) return false;
  printScreen();
  return true;
}

bool ConsoleDriver::execute(const std::string& line) {
  if (quit_) return false;
  ++line_;
  // Only the line end goes: what `type` types keeps its blanks.
  std::string_view raw = line;
  if (raw.ends_with('\n')) raw.remove_suffix(1);
  if (raw.ends_with('\r')) raw.remove_suffix(1);
  // A keyboard types neither control characters nor broken UTF-8, and the echo goes to a terminal.
  const auto text = printableText(std::string(raw));
  const auto trimmed = std::string(trimAsciiWhitespace(text));
  if (trimmed.empty() || trimmed[0] == '#') return true;
  auto [command, arguments] = splitFirst(trimmed);
  if (command == "type")
    arguments = std::string(withoutLeadingBlanks(withoutLeadingBlanks(text).substr(command.size())));
  const auto shown = echoed(std::string(withoutLeadingBlanks(text)), command, arguments);
  if (echo_) out_ << "> " << shown << "\n";
  // One command's failure is that command's: the session goes on.
  firstMessage_.reset();
  try {
    runCommand(command, arguments);
  } catch (const std::exception& error) {
    message(std::string("The command failed: ") + error.what());
  }
  if (quit_) {
    out_.flush();
    return false;
  }
  settle();
  noteFailure(shown);
  printScreen();
  return true;
}

std::string ConsoleDriver::echoed(const std::string& line, const std::string& command,
                                  const std::string& arguments) const {
  auto [name, typed] = splitTyped(arguments);
  auto w = window();
  if (command == "type" && w && !typed.empty()) {
    // Wherever the field is, also under an open alert that keeps the command from reaching it.
    auto field = findTextFieldAnywhere(*w, name);
    if (field && field->isSecureTextEntry()) {
      // A password typed into a secure field stays out of the transcript.
      std::string dots;
      for (unsigned char c : typed) {
        if ((c & 0xC0) != 0x80) dots += "\u2022";
      }
      return command + " " + name + " " + dots;
    }
  }
  return line;
}

void ConsoleDriver::runCommand(const std::string& command, const std::string& arguments) {
  static const std::set<std::string> kWithoutWindow{"quit", "wait",       "show",       "open",
                                                    "help", "background", "foreground", "rotate"};
  if (!window() && !kWithoutWindow.count(command)) {
    message("There is no window to drive");
    return;
  }
  if (command == "tap") {
    tap(arguments);
  } else if (command == "type") {
    type(arguments);
  } else if (command == "select") {
    select(words(arguments));
  } else if (command == "swipe") {
    swipe(arguments);
  } else if (command == "tab") {
    tab(arguments);
  } else if (command == "back") {
    back();
  } else if (command == "alert") {
    alert(arguments);
  } else if (command == "open") {
    open(arguments);
  } else if (command == "wait") {
    wait(arguments);
  } else if (command == "page") {
    page(arguments);
  } else if (command == "pull") {
    pull();
  } else if (command == "slide") {
    slide(arguments);
  } else if (command == "rotate") {
    rotate(arguments);
  } else if (command == "background") {
    UIApplication::sharedApplication()->enterBackground();
  } else if (command == "foreground") {
    UIApplication::sharedApplication()->becomeActive();
  } else if (command == "pick") {
    pick(arguments);
  } else if (command == "link") {
    link(arguments);
  } else if (command == "cancel") {
    // Giving up presents an alert of its own, which cannot go over an open one.
    if (openAlert(*window())) return message(kAlertOpen);
    if (BrowserSignIns::giveUp(out_).empty()) message("No sign-in waits in a browser");
  } else if (command == "help") {
    help();
  } else if (command == "show") {
  } else if (command == "quit") {
    quit_ = true;
  } else {
    message("Unknown command '" + command + "': 'help' lists the commands");
  }
}

bool ConsoleDriver::touchesBlocked() {
  if (ScreenRenderer::overlayBlocksTouches()) {
    message("The screen does not take touches now");
    return true;
  }
  return false;
}

void ConsoleDriver::tap(const std::string& name) {
  if (name.empty()) return message("Usage: tap NAME");
  auto w = window();
  if (touchesBlocked()) return;
  if (auto view = findView(*w, name)) {
    if (!view->tap()) message("'" + name + "' cannot be tapped now");
    return;
  }
  if (openAlert(*w)) return message(kAlertOpen);
  if (auto item = findBarButtonItem(*w, name)) {
    auto nav = visibleNavigationController(*w);
    if (!nav->navigationBar()->canReceiveTouches() || !item->tap()) message("'" + name + "' cannot be tapped now");
    return;
  }
  // A control as the screen shows it: "[Sign in]" is tapped as "Sign in".
  auto root = searchRoot(*w);
  auto shownAs = [&name](const UIControl& c) {
    auto title = c.bracketedTitle();
    return title && printableText(*title) == name;
  };
  if (auto control = root ? findFirst<UIControl>(root, shownAs) : nullptr) {
    if (!control->tap()) message("'" + name + "' cannot be tapped now");
    return;
  }
  message("Nothing named '" + name + "' on screen");
}

void ConsoleDriver::type(const std::string& arguments) {
  auto [name, text] = splitTyped(arguments);
  if (name.empty()) return message("Usage: type NAME TEXT");
  auto w = window();
  if (touchesBlocked()) return;
  auto view = findView(*w, name);
  if (!view) return message(openAlert(*w) ? kAlertOpen : "Nothing named '" + name + "' on screen");
  bool typed = false;
  if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
    typed = field->typeText(text);
  } else if (auto bar = std::dynamic_pointer_cast<UISearchBar>(view)) {
    typed = bar->typeText(text);
  } else {
    return message("'" + name + "' is not a text field");
  }
  if (!typed) message("'" + name + "' does not take text now");
}

void ConsoleDriver::select(const std::vector<std::string>& args) {
  std::optional<int> section = 0;
  std::optional<int> row;
  if (args.size() == 1) {
    row = parseIndex(args[0]);
  } else if (args.size() == 2) {
    section = parseIndex(args[0]);
    row = parseIndex(args[1]);
  }
  if (!section || !row) return message("Usage: select ROW, or select SECTION ROW");
  auto w = window();
  if (openAlert(*w)) return message(kAlertOpen);
  if (touchesBlocked()) return;
  auto root = searchRoot(*w);
  NSIndexPath indexPath{*section, *row};
  if (auto table = std::static_pointer_cast<UITableView>(findList(root, true))) {
    if (const int sections = table->numberOfSections(); *section >= sections) {
      return message(missingSection(*section, "table", sections));
    }
    if (!table->tapRowAtIndexPath(indexPath)) message("Row " + std::to_string(*row) + " cannot be selected");
    return;
  }
  if (auto collection = std::static_pointer_cast<UICollectionView>(findList(root, false))) {
    if (const int sections = collection->numberOfSections(); *section >= sections) {
      return message(missingSection(*section, "collection", sections));
    }
    if (!collection->tapItemAtIndexPath(indexPath)) message("Item " + std::to_string(*row) + " cannot be selected");
    return;
  }
  message("There is no table on screen");
}

void ConsoleDriver::swipe(const std::string& arguments) {
  auto [first, rest] = splitFirst(arguments);
  auto [second, afterSecond] = splitFirst(rest);
  std::optional<int> section = 0;
  auto row = parseIndex(first);
  std::string action = rest;
  if (parseIndex(second) && !afterSecond.empty()) {  // swipe SECTION ROW ACTION
    section = row;
    row = parseIndex(second);
    action = afterSecond;
  }
  if (!section || !row || action.empty()) return message("Usage: swipe ROW ACTION, or swipe SECTION ROW ACTION");
  auto w = window();
  if (openAlert(*w)) return message(kAlertOpen);
  if (touchesBlocked()) return;
  auto table = std::static_pointer_cast<UITableView>(findList(searchRoot(*w), true));
  if (!table) return message("There is no table on screen");
  if (!table->performRowAction(NSIndexPath{*section, *row}, action)) {
    message("Row " + (*section > 0 ? std::to_string(*section) + "." : "") + std::to_string(*row) + " has no action '" +
            action + "'");
  }
}

void ConsoleDriver::tab(const std::string& argument) {
  auto index = parseIndex(argument);
  if (!index) return message("Usage: tab N");
  auto w = window();
  if (openAlert(*w)) return message(kAlertOpen);
  if (touchesBlocked()) return;
  std::shared_ptr<UITabBarController> tabs;
  for (const auto& c : visiblePath(*w)) {
    if ((tabs = std::dynamic_pointer_cast<UITabBarController>(c))) break;
  }
  if (!tabs) return message("There is no tab bar on screen");
  if (!tabs->tapTabAtIndex(static_cast<std::size_t>(*index))) message("Tab " + argument + " cannot be selected");
}

void ConsoleDriver::back() {
  auto w = window();
  if (openAlert(*w)) return message(kAlertOpen);
  if (touchesBlocked()) return;
  auto nav = visibleNavigationController(*w);
  if (!nav || !nav->tapBackButton()) message("There is no back button");
}

void ConsoleDriver::alert(const std::string& title) {
  auto w = window();
  auto alertController = openAlert(*w);
  if (!alertController) return message("No alert is open");
  if (touchesBlocked()) return;
  if (!alertController->tapActionWithTitle(title)) message("The alert has no button '" + title + "'");
}

void ConsoleDriver::open(const std::string& text) {
  auto url = URL::URLWithString(text);
  if (text.empty() || !url || !url->scheme()) return message("Not a URL: '" + text + "'");
  bool handled = UIApplication::sharedApplication()->deliverOpenURL(*url);
  out_ << (handled ? "The application opened " : "The application did not open ") << text << "\n";
}

void ConsoleDriver::wait(const std::string& argument) {
  auto parsed = parseNumber(argument);
  if (!parsed || *parsed < 0 || *parsed > kMaxWait) {
    return message(fmt::format("Usage: wait SECONDS (at most {:g})", kMaxWait));
  }
  const double seconds = *parsed;
  if (currentClock()->isVirtual()) {
    RunLoop::main().advance(seconds);
    return;
  }
  auto deadline = Date::now().dateByAddingTimeInterval(seconds);
  for (double left = seconds; left > 0; left = deadline.timeIntervalSinceNow()) RunLoop::main().runOnce(left);
}

void ConsoleDriver::page(const std::string& arguments) {
  auto [name, number] = splitFirst(arguments);
  // A page before the first is answered with the range, as one past the last is.
  const bool negative = number.starts_with('-');
  auto index = parseIndex(negative ? number.substr(1) : number);
  if (name.empty() || !index) return message("Usage: page NAME N");
  auto w = window();
  if (touchesBlocked()) return;
  auto view = findView(*w, name);
  if (!view) return message(openAlert(*w) ? kAlertOpen : "Nothing named '" + name + "' on screen");
  auto scroll = std::dynamic_pointer_cast<UIScrollView>(view);
  if (!scroll || !scroll->isPagingEnabled()) return message("'" + name + "' does not page");
  // A swipe past the end would settle on the last page, which the user did not ask for.
  if (const int last = scroll->pageCount() - 1; (negative && *index > 0) || *index > last) {
    return message(fmt::format("'{}' has no page {}{}: {}", name, negative ? "-" : "", *index,
                               last == 0 ? "its only page is 0" : fmt::format("its pages are 0 to {}", last)));
  }
  if (!scroll->swipeToPage(*index)) message("'" + name + "' cannot be swiped now");
}

void ConsoleDriver::pull() {
  auto w = window();
  if (openAlert(*w)) return message(kAlertOpen);
  if (touchesBlocked()) return;
  auto scroll = findFirst<UIScrollView>(searchRoot(*w), [](const UIScrollView& v) { return !!v.refreshControl(); });
  if (!scroll) return message("Nothing on screen refreshes when pulled");
  if (!scroll->pullToRefresh()) message("The list cannot be pulled now");
}

void ConsoleDriver::slide(const std::string& arguments) {
  auto [name, number] = splitFirst(arguments);
  auto value = parseNumber(number);
  if (name.empty() || !value) return message("Usage: slide NAME VALUE");
  auto w = window();
  if (touchesBlocked()) return;
  auto view = findView(*w, name);
  if (!view) return message(openAlert(*w) ? kAlertOpen : "Nothing named '" + name + "' on screen");
  auto slider = std::dynamic_pointer_cast<UISlider>(view);
  if (!slider) return message("'" + name + "' is not a slider");
  // The finger takes the thumb where it is, moves it and lets go.
  auto to = static_cast<float>(*value);
  if (!slider->drag(UITouch::Phase::Began, slider->value())) return message("'" + name + "' cannot be slid now");
  slider->drag(UITouch::Phase::Moved, to);
  slider->drag(UITouch::Phase::Ended, to);
}

void ConsoleDriver::rotate(const std::string& argument) {
  if (argument == "portrait") return UIDevice::currentDevice()->rotate(UIDeviceOrientation::Portrait);
  if (argument == "landscape") return UIDevice::currentDevice()->rotate(UIDeviceOrientation::LandscapeLeft);
  message("Usage: rotate portrait|landscape");
}

void ConsoleDriver::pick(const std::string& path) {
  if (path.empty()) return message("Usage: pick PATH");
  auto w = window();
  if (touchesBlocked()) return;
  std::shared_ptr<UIImagePickerController> picker;
  for (const auto& c : visiblePath(*w)) {
    if ((picker = std::dynamic_pointer_cast<UIImagePickerController>(c))) break;
  }
  if (!picker) return message("No image picker is open");
  auto picked = picker->pickImageAtPath(path);
  if (!picked) return message(picked.error());
  out_ << "(picked " << path << ": " << *picked << ")\n";
}

void ConsoleDriver::link(const std::string& argument) {
  auto number = parseIndex(argument);
  auto url = number ? std::nullopt : URL::URLWithString(argument);
  if (!number && (!url || !url->scheme())) return message("Usage: link N, or link URL");
  auto w = window();
  if (openAlert(*w)) return message(kAlertOpen);
  if (touchesBlocked()) return;
  auto webPage = findFirst<WebContentView>(searchRoot(*w));
  if (!webPage) return message("There is no web page on screen");
  if (!(number ? webPage->tapLink(static_cast<std::size_t>(*number)) : webPage->tapLink(*url))) {
    message("The page has no link " + argument);
  }
}

void ConsoleDriver::help() { out_ << kConsoleCommands; }

void ConsoleDriver::lineTooLong() {
  ++line_;
  firstMessage_.reset();
  message("Line too long (more than " + std::to_string(kMaxLineLength) + " bytes): skipped");
  noteFailure("");
  out_.flush();
}

bool ConsoleDriver::run(std::istream& in) {
  settle();
  printScreen();
  for (std::string line; !quit_;) {
    auto read = readLine(in, line);
    if (read == LineRead::End) break;
    if (read == LineRead::TooLong) {
      lineTooLong();
    } else {
      execute(line);
    }
  }
  return !in.bad();
}

bool ConsoleDriver::runScriptFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  // A directory opens like a file; only reading it fails.
  if (!in || (in.peek(), in.bad())) return false;
  return run(in);
}

bool ConsoleDriver::runInteractive(std::istream& in) {
  struct Input {
    std::mutex mutex;
    std::condition_variable room;                  // the queue has room, or the driver left
    std::deque<std::optional<std::string>> lines;  // nothing for a line too long
    bool ended = false;
    bool broken = false;
    bool abandoned = false;  // the driver left: the reader must not touch the run loop again
  };
  auto input = std::make_shared<Input>();
  // Posting under the lock: once abandoned is set, no post can still be under way.
  std::thread reader([input, &in] {
    std::string line;
    for (LineRead read; (read = readLine(in, line)) != LineRead::End;) {
      // Input faster than commands run waits in the pipe, not in memory.
      std::unique_lock lock(input->mutex);
      input->room.wait(lock, [&] { return input->lines.size() < kMaxQueuedLines || input->abandoned; });
      if (input->abandoned) return;
      input->lines.push_back(read == LineRead::Line ? std::optional<std::string>(line) : std::nullopt);
      RunLoop::main().post([] {});
    }
    std::lock_guard lock(input->mutex);
    input->ended = true;
    input->broken = in.bad();
    if (!input->abandoned) RunLoop::main().post([] {});
  });

  settle();
  printScreen();
  bool ended = false;
  bool broken = false;
  using Steady = std::chrono::steady_clock;
  const std::chrono::duration<double> reprintInterval(kReprintInterval);
  auto lastReprint = Steady::now() - reprintInterval;
  while (!quit_) {
    std::optional<std::optional<std::string>> line;
    {
      std::lock_guard lock(input->mutex);
      if (!input->lines.empty()) {
        line = std::move(input->lines.front());
        input->lines.pop_front();
        input->room.notify_one();
      }
      ended = input->ended;
      broken = input->broken;
    }
    if (line && *line) {
      execute(**line);
    } else if (line) {
      lineTooLong();
    } else if (ended) {
      break;
    } else {
      RunLoop::main().runOnce(kReprintInterval / 2);
      if (Steady::now() - lastReprint >= reprintInterval && printIfChanged()) lastReprint = Steady::now();
    }
  }
  {
    std::lock_guard lock(input->mutex);
    input->abandoned = true;
  }
  input->room.notify_one();
  // After quit the reader may stay blocked on standard input, which outlives it; any other stream
  // reads to its end without waiting, and must not be read once the caller lets it go.
  if (!ended && &in == &std::cin) {
    reader.detach();
  } else {
    reader.join();
  }
  return !broken;
}
