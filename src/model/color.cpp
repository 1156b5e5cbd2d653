#include "model/color.h"

#include "platform/foundation/text.h"

namespace {

bool isHexDigit(char c, std::uint32_t* digit) {
  if (c >= '0' && c <= '9') {
    *digit = static_cast<std::uint32_t>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    *digit = static_cast<std::uint32_t>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    *digit = static_cast<std::uint32_t>(c - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

// The platform scanner's reading of a hexadecimal number at the start of `text`.
std::uint32_t scanHexInt(std::string_view text) {
  const std::string trimmed = stringByTrimmingCharacters(text, CharacterSet::WhitespaceAndNewlines);
  std::string_view rest = trimmed;
  std::uint32_t digit = 0;
  if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X') && isHexDigit(rest[2], &digit))
    rest.remove_prefix(2);
  std::uint64_t value = 0;
  for (char c : rest) {
    if (!isHexDigit(c, &digit)) break;
    // Saturate by value, so leading zeros never overflow.
    value = value * 16 + digit;
    if (value > 0xFFFFFFFFu) value = 0x100000000u;
  }
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

std::string_view trimmingHashes(std::string_view text) {
  while (!text.empty() && text.front() == '#') text.remove_prefix(1);
  while (!text.empty() && text.back() == '#') text.remove_suffix(1);
  return text;
}

Color palette(std::string_view primary, std::string_view secondary) {
  const UIColor white = UIColor::whiteColor();
  return {colorWithHexRGBString(primary), colorWithHexRGBString(secondary), white, white};
}

Color darkTextPalette(std::string_view primary, std::string_view secondary) {
  const UIColor text = colorWithHexRGBString("212121");
  return {colorWithHexRGBString(primary), colorWithHexRGBString(secondary), text, text};
}

}  // namespace

const std::unordered_map<std::string, Color>& Color::themes() {
  // Never destroyed: models point into it until the program's very end.
  static const auto* table = new const std::unordered_map<std::string, Color>{
      {"indigo_pink", palette("3f51b5", "ff4081")},
      {"blue_indigo", palette("5677fc", "536dfe")},
      {"teal_amber", palette("009688", "ffc107")},
      {"cyan_orange", palette("00bcd4", "ff9800")},
      {"light_blue_pink", palette("03a9f4", "ff4081")},
      {"purple_amber", palette("9c27b0", "ffc107")},
      {"deep_purple_orange", palette("673ab7", "ff9800")},
      {"light_green_amber", darkTextPalette("8bc34a", "ffc107")},
      {"green_pink", palette("259b24", "ff4081")},
      {"amber_deep_orange", darkTextPalette("ffc107", "ff5722")},
      {"yellow_orange", darkTextPalette("ffeb3b", "ff9800")},
      {"lime_teal", darkTextPalette("cddc39", "009688")},
      {"orange_deep_orange", darkTextPalette("ff9800", "ff5722")},
  };
  return *table;
}

std::optional<Color> Color::themeNamed(const std::optional<std::string>& name) {
  const Color* found = theme(name);
  if (!found) return std::nullopt;
  return *found;
}

const Color* Color::theme(const std::optional<std::string>& name) {
  if (!name) return nullptr;
  const auto& table = themes();
  const auto found = table.find(*name);
  return found == table.end() ? nullptr : &found->second;
}

const UIColor& Color::background() {
  static const UIColor color = colorWithHexRGBString("F2F2F2");
  return color;
}

UIColor colorWithHexRGB(std::uint64_t value, double alpha) {
  return UIColor::colorWithRed(static_cast<double>((value >> 16) & 0xFF) / 255.0,
                               static_cast<double>((value >> 8) & 0xFF) / 255.0,
                               static_cast<double>(value & 0xFF) / 255.0, alpha);
}

UIColor colorWithHexRGB(std::uint64_t value) { return colorWithHexRGB(value, 1.0); }

UIColor colorWithHexRGBString(std::string_view text) { return colorWithHexRGB(scanHexInt(trimmingHashes(text)), 1.0); }

UIColor lighterColor(const UIColor& color, double amount) { return colorWithBrightnessFactor(color, 1.0 + amount); }

UIColor darkerColor(const UIColor& color, double amount) { return colorWithBrightnessFactor(color, 1.0 - amount); }

UIColor colorWithBrightnessFactor(const UIColor& color, double factor) {
  double hue = 0, saturation = 0, brightness = 0, alpha = 0;
  if (!color.getHue(&hue, &saturation, &brightness, &alpha)) return color;
  return UIColor::colorWithHue(hue, saturation, brightness * factor, alpha);
}

UIColor colorWithNewAlpha(const UIColor& color, double alpha) {
  if (color.model() == UIColor::Model::Grey) {
    const double white = color.white();
    return UIColor::colorWithRed(white, white, white, alpha);
  }
  return UIColor::colorWithRed(color.red(), color.green(), color.blue(), alpha);
}
