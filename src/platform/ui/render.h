#pragma once

#include <string>
#include <string_view>
#include <vector>

class UIView;

// The text picture of a view tree. Views write lines; nesting indents by two spaces. This is the
// only surface views draw on: the console driver prints it, and another display would take its
// place here without any view changing.
//
// Line conventions (one line per thing the user can see or address):
//   label            text
//   button           [Title] #name     with " (disabled)" / " (selected)" appended
//   text field       {text} #name | {(placeholder)} #name | {••••} #name (secure entry); a "|"
//                    after the text while editing
//   search bar       search {text} #name, same rules as a text field
//   image view       (image: name)
//   scroll view      (page 2/5) when it pages horizontally; with paging, only the shown page
//   refresh control  (refreshing) while it refreshes
//   table            "== title ==" per section header, then one line per row: "R. cell" (one
//                    section) or "S.R. cell", the cell's lines joined by " | ", then
//                    " (selected)" and, on a swiped row, " <Action|Action>"
//   collection       one line per item, as table rows
//   slider           <slider 40%> #name, with " (disabled)"
//   activity         (busy) while it spins
//   web page         the page's text, one line per block, each link followed by its number
//                    ("Next [1]"), a submit button as [Title]; (loading URL) before the first
//                    page arrives
//   video            (video URL, playing|paused) #videoPlayer, with ", no controls" before the ")"
//                    when they are hidden; shown, they are a [Play] or [Pause] #playbackButton
// Names (#name) are the views' accessibility identifiers, which the console driver addresses.
// Texts go through printableText, and a text with line breaks gives several lines.
class TextCanvas {
 public:
  TextCanvas() = default;
  // Keeps no list: every line goes straight onto `out`, without its indentation, after
  // `separator` unless `out` is still empty (the form of joined()).
  TextCanvas(std::string& out, std::string_view separator) : joined_(&out), separator_(separator) {}
  TextCanvas(const TextCanvas&) = delete;
  TextCanvas& operator=(const TextCanvas&) = delete;

  void line(std::string_view text);
  // A line whose text is printable already (printableText's output, or a canvas's joined line)
  // and holds no line break.
  void printableLine(std::string_view text);
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

  bool empty() const { return text_.empty(); }
  // All lines, each ended by "\n".
  std::string text() const;
  // All lines without their indentation, joined by `separator`.
  std::string joined(const std::string& separator) const;

 private:
  void joinLine(std::string_view piece);

  // The lines, each ended by "\n", in one piece: a screen of many rows takes no allocation per row.
  std::string text_;
  int depth_ = 0;
  std::string* joined_ = nullptr;
  std::string_view separator_;
};

// `text` safe for a terminal: a tab becomes a space; other control characters (line breaks and
// bidi embeddings, overrides and isolates included) and ill-formed UTF-8 read as U+FFFD, one per
// bad byte.
std::string printableText(std::string_view text);

// The view's rendering on one line (its lines joined by " | ").
std::string renderOnOneLine(const UIView& view);
