#include "platform/ui/render.h"

#include <algorithm>

#include "platform/ui/ui_view.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at `i`, or 0.
std::size_t wellFormedLength(std::string_view s, std::size_t i) {
  auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0; };
  unsigned char b = at(0);
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return isContinuation(at(1)) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    unsigned char lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
    return at(1) >= lo && at(1) <= hi && isContinuation(at(2)) ? 3 : 0;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    unsigned char lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
    return at(1) >= lo && at(1) <= hi && isContinuation(at(2)) && isContinuation(at(3)) ? 4 : 0;
  }
  return 0;
}

// U+202A-U+202E and U+2066-U+2069 reorder the rest of a terminal line.
bool isBidiControl(std::string_view s, std::size_t i, std::size_t n) {
  if (n != 3 || s[i] != '\xE2') return false;
  const auto second = static_cast<unsigned char>(s[i + 1]), third = static_cast<unsigned char>(s[i + 2]);
  return (second == 0x80 && third >= 0xAA && third <= 0xAE) || (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

}  // namespace

namespace {

bool isPlainPrintableAscii(unsigned char b) { return b >= 0x20 && b < 0x7F; }

// Appends printableText(text) to `out`: most texts are plain ASCII and go over in one piece.
void appendPrintable(std::string& out, std::string_view text) {
  const auto plain = std::find_if_not(text.begin(), text.end(),
                                      [](char c) { return isPlainPrintableAscii(static_cast<unsigned char>(c)); });
  out.append(text.begin(), plain);
  for (std::size_t i = static_cast<std::size_t>(plain - text.begin()); i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    std::size_t n = wellFormedLength(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (b == '\t') {
      out += ' ';
    } else if (b < 0x20 || b == 0x7F || (b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) ||
               isBidiControl(text, i, n)) {
      out += kReplacement;  // C0, C1 and bidi controls: they would drive the terminal
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
}

// Calls f with each piece of `text` between line breaks (CR, LF or CR LF).
template <class F>
void forEachLineOf(std::string_view text, F&& f) {
  while (true) {
    auto cut = text.find_first_of("\r\n");
    f(text.substr(0, cut));
    if (cut == std::string_view::npos) return;
    text.remove_prefix(cut + (text.compare(cut, 2, "\r\n") == 0 ? 2 : 1));
  }
}

}  // namespace

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendPrintable(out, text);
  return out;
}

void TextCanvas::line(std::string_view text) {
  forEachLineOf(text, [this](std::string_view piece) {
    if (joined_) return joinLine(piece);
    text_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    appendPrintable(text_, piece);
    text_ += '\n';
  });
}

void TextCanvas::printableLine(std::string_view text) {
  if (joined_) return joinLine(text);
  text_.append(static_cast<std::size_t>(depth_) * 2, ' ');
  text_ += text;
  text_ += '\n';
}

void TextCanvas::joinLine(std::string_view piece) {
  std::string& out = *joined_;
  const std::size_t mark = out.size();
  if (mark > 0) out += separator_;
  const std::size_t start = out.size();
  appendPrintable(out, piece);
  // Without indentation: leading blanks go, and a line of blanks is no line.
  const auto first = out.find_first_not_of(' ', start);
  if (first == std::string::npos) {
    out.resize(mark);
  } else {
    out.erase(start, first - start);
  }
}

std::string TextCanvas::text() const { return text_; }

std::string TextCanvas::joined(const std::string& separator) const {
  std::string out;
  std::string_view rest = text_;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const auto l = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const auto start = l.find_first_not_of(' ');
    if (start == std::string_view::npos) continue;
    if (!out.empty()) out += separator;
    out += l.substr(start);
  }
  return out;
}

std::string renderOnOneLine(const UIView& view) {
  std::string out;
  TextCanvas canvas(out, " | ");
  view.render(canvas);
  return out;
}
