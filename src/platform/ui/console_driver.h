#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"

class UIApplication;
class UIWindow;

// Drives the user interface from text commands, one per line, and prints the screen after each
// (the commands are listed in kConsoleCommands below). Views are addressed by outlet name,
// accessibility identifier or label; bar button items by title or identifier; views on pages a
// paged scroll view does not show are out of reach. Rows, items, pages and tabs count from 0.
// Empty lines and lines starting with # are skipped. A command that cannot run, or fails with an
// exception, prints one line starting with "! " and the driver goes on.
//
// Between a command and the screen the run loop settles: by default it runs until no network
// transfer is in flight and nothing is due (at most settleTimeout seconds of real time), with a
// layout pass of the screen in between; timers due later wait for `wait`. A browser started for a
// sign-in is waited for too, while it runs and at most signInBrowserWait seconds after it started,
// so that an answer it brings at once shows on the screen. Each URL the
// application opened out of itself in the meantime prints as "(opened URL)" before the screen, or
// as "(no browser could open URL: REASON)" when the web browser did not start.
class ConsoleDriver {
 public:
  // `window` is the window to drive; without one, the application's key window at each command.
  explicit ConsoleDriver(std::ostream& out, std::shared_ptr<UIWindow> window = nullptr);
  ~ConsoleDriver();

  // Runs one line, settles and prints the screen (nothing for skipped lines and quit). Returns
  // false once quit has run.
  bool execute(const std::string& line);
  // Prints the screen as it is after settling, then runs every line of `in` until quit or its end.
  // A line longer than 64 KiB is skipped with one "! " line, and never held whole. False when
  // reading broke off with an error.
  bool run(std::istream& in);
  // The same over a script file; false when the file cannot be read (nothing run then, as for a
  // directory) or reading it broke off.
  bool runScriptFile(const std::string& path);
  // The same, reading `in` on a thread of its own while the main run loop keeps turning, so
  // timers and replies are handled while nobody types. After quit, standard input is left to the
  // reader (it may be waiting for a line); any other stream is read to its end first.
  bool runInteractive(std::istream& in);

  bool hasQuit() const { return quit_; }

  // The commands that printed a "! " line (a line too long counts as one), and the first of them:
  // its line, counted from 1 over the lines given to the driver, as echoed (empty for a line too
  // long), and its first "! " line without the "! ".
  struct Failures {
    std::size_t count = 0;
    std::size_t line = 0;
    std::string command;
    std::string message;
  };
  const Failures& failures() const { return failures_; }

  // Whether each command is printed ("> tap login") before its output; on by default. Text typed
  // into a secure field prints as dots.
  void setEchoCommands(bool echo) { echo_ = echo; }
  // What runs between a command and the screen, in place of the default.
  void setSettle(std::function<void()> settle) { settle_ = std::move(settle); }
  void setSettleTimeout(TimeInterval seconds) { settleTimeout_ = seconds; }
  void setSignInBrowserWait(TimeInterval seconds) { signInBrowserWait_ = seconds; }

  // The longest `wait` takes.
  static constexpr TimeInterval kMaxWait = 600;

  // The screen as the driver prints it.
  std::string screen() const;

 private:
  std::shared_ptr<UIWindow> window() const;
  void runCommand(const std::string& command, const std::string& arguments);
  // The command as echoed.
  std::string echoed(const std::string& line, const std::string& command, const std::string& arguments) const;
  void message(const std::string& text);
  // Counts the line that just ran as failed when it printed a "! " line.
  void noteFailure(const std::string& command);
  void lineTooLong();
  void settle();
  void printScreen();
  void printOpenedURLs();
  // In interactive use: prints the screen again when it (or the list of opened URLs) changed
  // since it was last printed. Whether it printed.
  bool printIfChanged();

  void tap(const std::string& name);
  void type(const std::string& arguments);
  void select(const std::vector<std::string>& words);
  void swipe(const std::string& arguments);
  void tab(const std::string& argument);
  void back();
  void alert(const std::string& title);
  void open(const std::string& text);
  void wait(const std::string& argument);
  void page(const std::string& arguments);
  void pull();
  void slide(const std::string& arguments);
  void rotate(const std::string& argument);
  void pick(const std::string& path);
  void link(const std::string& argument);
  void help();
  bool touchesBlocked();

  std::ostream& out_;
  std::shared_ptr<UIWindow> window_;
  std::function<void()> settle_;
  TimeInterval settleTimeout_ = 10;
  // How long after its start a sign-in's browser holds the screen: the test browser of the
  // end-to-end scripts answers well within it.
  TimeInterval signInBrowserWait_ = 2;
  bool echo_ = true;
  bool quit_ = false;
  std::string lastPrinted_;
  std::size_t line_ = 0;
  // The first "! " line of the line running.
  std::optional<std::string> firstMessage_;
  Failures failures_;
  // The URL openings of this application already printed.
  std::weak_ptr<UIApplication> application_;
  std::size_t openedPrinted_ = 0;
};

// The commands as `help` prints them, one a line (a long one goes on, indented, on the next).
inline constexpr const char* kConsoleCommands =
    "tap NAME             taps a button, control, view with a tap recogniser, or bar button item\n"
    "type NAME TEXT       types TEXT (the rest of the line, blanks kept) into a text field or search bar\n"
    "select [SECTION] ROW taps a row (or item) of the first table or collection on screen\n"
    "swipe [SECTION] ROW ACTION  swipes a row and taps the action with that title: a row that has\n"
    "                     actions lists their titles after it, (swipe: TITLE|TITLE)\n"
    "tab N                taps tab N of the tab bar\n"
    "back                 taps the navigation bar's back button\n"
    "alert BUTTON         taps the button with that title on the open alert\n"
    "page NAME N          swipes the paged scroll view NAME to page N, counted from 0: the screen's\n"
    "                     \"(page 1/4) #NAME\" is page 0\n"
    "pull                 pulls the first refreshable list on screen down to refresh it\n"
    "slide NAME VALUE     drags the slider NAME to VALUE, 0-100 as the screen prints it (<slider 50%>)\n"
    "link N|URL           follows the link numbered [N] (or the link to URL) on the web page on screen\n"
    "pick PATH            picks the image file at PATH in the open image picker\n"
    "rotate portrait|landscape  turns the device\n"
    "background           sends the application to the background\n"
    "foreground           brings it back\n"
    "open URL             opens the URL into the application\n"
    "cancel               gives up the sign-in waiting in a browser\n"
    "wait SECONDS         lets time pass for timers (at most 600)\n"
    "show                 prints the screen again\n"
    "help                 prints this list\n"
    "quit                 ends\n"
    "On screen: {TEXT} is a text field, [TITLE] a button (tap it by its title), #name the name that\n"
    "commands take, S.R. row R of section S (select S R), === TITLE === the navigation bar. A picture\n"
    "with a #name, \"(image: ...) #name\" or \"(no picture) #name\", takes a tap.\n";
