#pragma once

#include <optional>
#include <string>

#include "platform/ui/ui_color.h"
#include "platform/ui/ui_font.h"

// Keys of text attributes (the navigation bar's title attributes, say).
inline constexpr const char* NSForegroundColorAttributeName = "NSColor";

// Text with the few attributes the screens set.
struct NSAttributedString {
  std::string string;
  std::optional<UIColor> foregroundColor;
  std::optional<UIFont> font;
};
