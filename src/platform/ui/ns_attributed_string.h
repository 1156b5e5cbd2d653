#pragma once

#include <optional>
#include <string>

#include "platform/ui/ui_color.h"
#include "platform/ui/ui_font.h"

// Text with the few attributes the screens set.
struct NSAttributedString {
  std::string string;
  std::optional<UIColor> foregroundColor;
  std::optional<UIFont> font;
};
