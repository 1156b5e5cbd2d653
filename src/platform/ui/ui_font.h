#pragma once

#include <string>

// A font value: face name and point size. Measuring is deterministic (no real glyphs): a line is
// 1.2 times the point size high and a character is half the point size wide.
class UIFont {
 public:
  UIFont() = default;
  UIFont(std::string name, double pointSize) : name_(std::move(name)), pointSize_(pointSize) {}

  static UIFont systemFontOfSize(double size);
  static UIFont boldSystemFontOfSize(double size);
  static UIFont italicSystemFontOfSize(double size);
  static UIFont fontWithName(std::string name, double size);
  static double systemFontSize() { return 17; }

  UIFont fontWithSize(double size) const { return UIFont(name_, size); }

  const std::string& fontName() const { return name_; }
  double pointSize() const { return pointSize_; }
  double lineHeight() const { return pointSize_ * 1.2; }
  // Width of `text` on one line: half the point size per character (code point).
  double widthOfText(const std::string& text) const;

  bool operator==(const UIFont&) const = default;

 private:
  std::string name_ = ".SFUIText";
  double pointSize_ = 17;
};
