#include "platform/ui/ui_font.h"

UIFont UIFont::systemFontOfSize(double size) { return UIFont(".SFUIText", size); }
UIFont UIFont::boldSystemFontOfSize(double size) { return UIFont(".SFUIText-Bold", size); }
UIFont UIFont::italicSystemFontOfSize(double size) { return UIFont(".SFUIText-Italic", size); }
UIFont UIFont::fontWithName(std::string name, double size) { return UIFont(std::move(name), size); }

double UIFont::widthOfText(const std::string& text) const {
  std::size_t codePoints = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++codePoints;
  }
  return static_cast<double>(codePoints) * pointSize_ / 2;
}
