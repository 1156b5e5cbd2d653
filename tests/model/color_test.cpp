#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <string>

#include "model/color.h"

namespace {

constexpr double kTolerance = 1e-9;

// Compares red, green, blue and alpha, or with `hsb` hue, saturation, brightness and alpha.
void expectComponents(const UIColor& color, std::array<double, 4> want, bool hsb = false) {
  std::array<double, 4> got{-1, -1, -1, -1};
  if (hsb) EXPECT_TRUE(color.getHue(&got[0], &got[1], &got[2], &got[3]));
  else color.getRed(&got[0], &got[1], &got[2], &got[3]);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], kTolerance) << "component " << i;
}

TEST(ColorTest, ThemeLookupIsExactAndCaseSensitive) {
  const UIColor white = UIColor::whiteColor(), dark = colorWithHexRGB(0x212121);
  const struct {
    const char* name;
    std::uint32_t primary, secondary;
    UIColor text;
  } palettes[] = {
      {"indigo_pink", 0x3f51b5, 0xff4081, white},        {"blue_indigo", 0x5677fc, 0x536dfe, white},
      {"teal_amber", 0x009688, 0xffc107, white},         {"cyan_orange", 0x00bcd4, 0xff9800, white},
      {"light_blue_pink", 0x03a9f4, 0xff4081, white},    {"purple_amber", 0x9c27b0, 0xffc107, white},
      {"deep_purple_orange", 0x673ab7, 0xff9800, white}, {"light_green_amber", 0x8bc34a, 0xffc107, dark},
      {"green_pink", 0x259b24, 0xff4081, white},         {"amber_deep_orange", 0xffc107, 0xff5722, dark},
      {"yellow_orange", 0xffeb3b, 0xff9800, dark},       {"lime_teal", 0xcddc39, 0x009688, dark},
      {"orange_deep_orange", 0xff9800, 0xff5722, dark},
  };
  EXPECT_EQ(Color::themes().size(), std::size(palettes));
  for (const auto& p : palettes) {
    EXPECT_EQ(Color::themeNamed(std::string(p.name)),
              (Color{colorWithHexRGB(p.primary), colorWithHexRGB(p.secondary), p.text, p.text}))
        << p.name;
  }

  for (const char* name : {"Teal_Amber", "teal-amber", "red", "", "teal_amber "})
    EXPECT_FALSE(Color::themeNamed(std::string(name))) << name;
  EXPECT_FALSE(Color::themeNamed(std::nullopt));

  EXPECT_EQ(Color::background(), colorWithHexRGB(0xF2F2F2));
}

TEST(ColorTest, HexTextsScanLikeThePlatformScanner) {
  const UIColor expected = colorWithHexRGB(0xF2F2F2);
  for (const char* text : {"F2F2F2", "#F2F2F2", "##F2F2F2##", "f2f2f2", " F2F2F2", "0xF2F2F2", "0XF2F2F2", "\n\tF2F2F2",
                           "F2F2F2zz", "12F2F2F2", "00000000F2F2F2"})
    EXPECT_EQ(colorWithHexRGBString(text), expected) << text;

  const UIColor black = UIColor::colorWithRed(0, 0, 0, 1);
  for (const char* text : {"", "#", "zz", "###", "0x", "-F2", "#zzF2F2F2"})
    EXPECT_EQ(colorWithHexRGBString(text), black) << text;

  // Past 32 bits the scanner gives all bits set: white.
  for (const char* text : {"1F2F2F2F2", "FFFFFFFFFFFFFFFFFFFFFFFFF"})
    EXPECT_EQ(colorWithHexRGBString(text), colorWithHexRGB(0xFFFFFF)) << text;
  // A "#" in the middle stops the number.
  EXPECT_EQ(colorWithHexRGBString("F2#F2F2"), colorWithHexRGB(0xF2));
}

TEST(ColorTest, HexValuesIgnoreHighBitsAndKeepAlpha) {
  EXPECT_EQ(colorWithHexRGB(0xFF00123456ull), colorWithHexRGB(0x123456));
  EXPECT_EQ(colorWithHexRGB(0xFFFFFFFFFFFFFFFFull, 0.25), colorWithHexRGB(0xFFFFFF, 0.25));
  expectComponents(colorWithHexRGB(0x336699, 0.5), {0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0, 0.5});
}

TEST(ColorTest, BrightnessFactorScalesOnlyBrightness) {
  // Hue 0.5, saturation 0.5, brightness 0.5.
  const UIColor base = UIColor::colorWithHue(0.5, 0.5, 0.5, 0.75);
  expectComponents(darkerColor(base, 0.2), {0.5, 0.5, 0.4, 0.75}, true);
  expectComponents(lighterColor(base, 0.2), {0.5, 0.5, 0.6, 0.75}, true);
  expectComponents(darkerColor(base, 0), {base.red(), base.green(), base.blue(), base.alpha()});
}

TEST(ColorTest, NewAlphaKeepsRedGreenBlueAlsoForGrey) {
  expectComponents(colorWithNewAlpha(colorWithHexRGB(0x336699), 0.3), {0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0, 0.3});
  EXPECT_EQ(colorWithNewAlpha(UIColor::whiteColor(), 0.5).model(), UIColor::Model::RGB);
  expectComponents(colorWithNewAlpha(UIColor::colorWithWhite(0.25, 1), 0), {0.25, 0.25, 0.25, 0});
}

}  // namespace
