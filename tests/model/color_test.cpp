#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>

#include "model/color.h"

namespace {

constexpr double kTolerance = 1e-9;

void expectNear(const std::array<double, 4>& got, const std::array<double, 4>& want) {
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], kTolerance) << "component " << i;
}
void expectRGBA(const UIColor& color, double r, double g, double b, double a) {
  std::array<double, 4> got{-1, -1, -1, -1};
  color.getRed(&got[0], &got[1], &got[2], &got[3]);
  expectNear(got, {r, g, b, a});
}
void expectHSBA(const UIColor& color, double h, double s, double b, double a) {
  std::array<double, 4> got{-1, -1, -1, -1};
  ASSERT_TRUE(color.getHue(&got[0], &got[1], &got[2], &got[3]));
  expectNear(got, {h, s, b, a});
}

TEST(ColorTest, ThemeLookupIsExactAndCaseSensitive) {
  EXPECT_EQ(Color::themes().size(), 13u);
  const auto teal = Color::themeNamed("teal_amber");
  ASSERT_TRUE(teal);
  EXPECT_EQ(std::tuple(teal->primary, teal->secondary, teal->primaryText, teal->secondaryText),
            std::tuple(colorWithHexRGB(0x009688), colorWithHexRGB(0xffc107), UIColor::whiteColor(), UIColor::whiteColor()));

  const auto lime = Color::themeNamed("lime_teal");
  ASSERT_TRUE(lime);
  EXPECT_EQ(std::tuple(lime->primaryText, lime->secondary), std::tuple(colorWithHexRGB(0x212121), colorWithHexRGB(0x009688)));

  for (const char* name : {"Teal_Amber", "teal-amber", "red", "", "teal_amber "})
    EXPECT_FALSE(Color::themeNamed(std::string(name))) << name;
  EXPECT_FALSE(Color::themeNamed(std::nullopt));

  EXPECT_EQ(Color::background(), colorWithHexRGB(0xF2F2F2));
  expectRGBA(Color::background(), 242.0 / 255, 242.0 / 255, 242.0 / 255, 1);
}

TEST(ColorTest, HexTextsScanLikeThePlatformScanner) {
  const UIColor expected = colorWithHexRGB(0xF2F2F2);
  for (const char* text : {"F2F2F2", "#F2F2F2", "##F2F2F2##", "f2f2f2", " F2F2F2", "0xF2F2F2", "0XF2F2F2",
                           "\n\tF2F2F2", "F2F2F2zz", "12F2F2F2", "00000000F2F2F2"})
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
  expectRGBA(colorWithHexRGB(0x336699, 0.5), 0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0, 0.5);
}

TEST(ColorTest, BrightnessFactorScalesOnlyBrightness) {
  // Hue 0.5, saturation 0.5, brightness 0.5.
  const UIColor base = UIColor::colorWithHue(0.5, 0.5, 0.5, 0.75);
  expectHSBA(darkerColor(base, 0.2), 0.5, 0.5, 0.4, 0.75);
  expectHSBA(lighterColor(base, 0.2), 0.5, 0.5, 0.6, 0.75);
  const UIColor same = darkerColor(base, 0);
  expectHSBA(same, 0.5, 0.5, 0.5, 0.75);
  expectRGBA(same, base.red(), base.green(), base.blue(), base.alpha());
}

TEST(ColorTest, NewAlphaKeepsRedGreenBlueAlsoForGrey) {
  expectRGBA(colorWithNewAlpha(colorWithHexRGB(0x336699), 0.3), 0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0, 0.3);
  const UIColor fromWhite = colorWithNewAlpha(UIColor::whiteColor(), 0.5);
  EXPECT_EQ(fromWhite.model(), UIColor::Model::RGB);
  expectRGBA(fromWhite, 1, 1, 1, 0.5);
  expectRGBA(colorWithNewAlpha(UIColor::colorWithWhite(0.25, 1), 0), 0.25, 0.25, 0.25, 0);
}

}  // namespace
