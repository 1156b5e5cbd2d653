#pragma once

#include <string>
#include <vector>

// The text picture of a view tree. Views write lines; nesting indents by two spaces.
//
// Line conventions (one line per thing the user can see or address):
//   label            text
//   button           [Title] name        with " (disabled)" / " (selected)" appended
//   text field       name: text | name: (placeholder) | name: •••• for secure entry
//   search bar       name: search: text | name: search: (placeholder)
//   image view       <image description>   only when it has an image
//   table / collection   one line "N. ..." per row or item, the cell's lines nested under it
//   switch           name: on|off
// Names are the views' accessibility identifiers, which the console driver addresses.
class TextCanvas {
 public:
  void line(const std::string& text);
  void indent() { ++depth_; }
  void outdent() {
    if (depth_ > 0) --depth_;
  }
  // Indents for the lifetime of the guard.
  class Nested {
   public:
    explicit Nested(TextCanvas& c) : c_(c) { c_.indent(); }
    ~Nested() { c_.outdent(); }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;

   private:
    TextCanvas& c_;
  };

  const std::vector<std::string>& lines() const { return lines_; }
  bool empty() const { return lines_.empty(); }
  // All lines, each ended by "\n".
  std::string text() const;

 private:
  std::vector<std::string> lines_;
  int depth_ = 0;
};
