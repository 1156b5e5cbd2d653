#include "platform/ui/render.h"

#include "platform/ui/ui_view.h"

void TextCanvas::line(const std::string& text) {
  lines_.push_back(std::string(static_cast<std::size_t>(depth_) * 2, ' ') + text);
}

std::string TextCanvas::text() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l;
    out += '\n';
  }
  return out;
}

std::string TextCanvas::joined(const std::string& separator) const {
  std::string out;
  for (const auto& l : lines_) {
    auto start = l.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    if (!out.empty()) out += separator;
    out += l.substr(start);
  }
  return out;
}

std::string renderOnOneLine(const UIView& view) {
  TextCanvas canvas;
  view.render(canvas);
  return canvas.joined(" | ");
}
