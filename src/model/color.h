#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/ui/ui_color.h"

// The four colours of one lecture or news theme.
struct Color {
  UIColor primary;
  UIColor secondary;
  UIColor primaryText;
  UIColor secondaryText;

  // The thirteen themes by their exact (case-sensitive) name; made once, never changed.
  static const std::unordered_map<std::string, Color>& themes();
  // The palette of a theme name; nothing for no name or an unknown one.
  static std::optional<Color> themeNamed(const std::optional<std::string>& name);
  // The same as the table's own entry, which lives as long as the program.
  static const Color* theme(const std::optional<std::string>& name);
  // The light grey behind the quiz screens.
  static const UIColor& background();

  bool operator==(const Color&) const = default;
};

// Colour helpers shared by the palettes and the screens.

// The low 24 bits as 0xRRGGBB; higher bits are ignored.
UIColor colorWithHexRGB(std::uint64_t value, double alpha);
UIColor colorWithHexRGB(std::uint64_t value);
// "#"s at either end are dropped, then a hexadecimal number is scanned from the start: blanks
// and a "0x" are skipped, reading stops at the first other character, a value past 32 bits reads
// as 0xFFFFFFFF (white), and no digit at all gives black. Always opaque.
UIColor colorWithHexRGBString(std::string_view text);

UIColor lighterColor(const UIColor& color, double amount);
UIColor darkerColor(const UIColor& color, double amount);
// Same hue, saturation and alpha, brightness times `factor`; the colour itself when it cannot
// report its hue.
UIColor colorWithBrightnessFactor(const UIColor& color, double factor);
// The colour's red, green and blue with another alpha; a grey counts as equal red, green and blue.
UIColor colorWithNewAlpha(const UIColor& color, double alpha);
