#include "platform/ui/render.h"

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
