#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class UIWindow;

// Drives the user interface from text commands, one per line, and prints the screen after each:
//
//   tap NAME             a button, control, view with a tap recogniser, or a bar button item
//   type NAME TEXT       types TEXT (the rest of the line) into a text field or search bar
//   select ROW           taps a row (or item) of the first table or collection on screen
//   select SECTION ROW
//   swipe ROW ACTION     swipes a row and taps the action with that title
//   swipe SECTION ROW ACTION
//   tab N                taps tab N of the tab bar
//   back                 taps the navigation bar's back button
//   alert BUTTON         taps the button with that title on the open alert
//   open URL             opens the URL into the application
//   wait SECONDS         lets time pass (virtual time when a virtual clock is installed)
//   show                 prints the screen again
//   quit                 ends
//
// Views are addressed by outlet name, accessibility identifier or label; bar button items by
// title or identifier. Rows, items and tabs count from 0. Empty lines and lines starting with #
// are skipped. A command that cannot run prints one line starting with "! " and the driver goes
// on. Between a command and the screen the run loop settles (by default it runs until idle).
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
  // Whether each command is printed ("> tap login") before its output; on by default. Text typed
  // into a secure field prints as dots.
  void setEchoCommands(bool echo) { echo_ = echo; }
  // What runs between a command and the screen.
  void setSettle(std::function<void()> settle) { settle_ = std::move(settle); }

  // The screen as the driver prints it.
  std::string screen() const;

 private:
  std::shared_ptr<UIWindow> window() const;
  void runCommand(const std::string& command, const std::string& arguments);
  // The command as echoed.
  std::string echoed(const std::string& line, const std::string& command, const std::string& arguments) const;
  void message(const std::string& text);
  void lineTooLong();
  void printScreen();

  void tap(const std::string& name);
  void type(const std::string& arguments);
  void select(const std::vector<std::string>& words);
  void swipe(const std::string& arguments);
  void tab(const std::string& argument);
  void back();
  void alert(const std::string& title);
  void open(const std::string& text);
  void wait(const std::string& argument);
  bool touchesBlocked();

  std::ostream& out_;
  std::shared_ptr<UIWindow> window_;
  std::function<void()> settle_;
  bool echo_ = true;
  bool quit_ = false;
};
