#include "app/text_utilities.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(FormatDecimalTest, RoundsToTheRequestedDecimalsWithAPoint) {
  EXPECT_EQ(formatDecimal(".4", 2.0 / 3.0), "0.6667");
  EXPECT_EQ(formatDecimal(".4", 3), "3.0000");
  EXPECT_EQ(formatDecimal(".4", 0.5), "0.5000");
  EXPECT_EQ(formatDecimal(".2", 1), "1.00");
  EXPECT_EQ(formatDecimal(".2", 0.5), "0.50");
  EXPECT_EQ(formatDecimal(".2", -0.005), "-0.01");
  EXPECT_EQ(formatDecimal(".0", 2.6), "3");
  EXPECT_EQ(formatDecimal(".10", 1.0 / 3.0), "0.3333333333");
  // No digit grouping, however large.
  EXPECT_EQ(formatDecimal(".1", 1234567.25), "1234567.2");
  EXPECT_EQ(formatDecimal(".2", 1e300).size(), 304u);
  EXPECT_EQ(formatDecimal(".2", std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(formatDecimal(".2", std::nan("")), "nan");
}

TEST(FormatDecimalTest, AcceptsWidthAndPrecisionDigitsOnly) {
  EXPECT_EQ(formatDecimal("8.3", 2.5), "   2.500");
  EXPECT_EQ(formatDecimal("06.2", 2.5), "002.50");
  EXPECT_EQ(formatDecimal("2", 1.5), "1.500000");
  EXPECT_EQ(formatDecimal("", 1.5), "1.500000");
  // Anything that is not digits around one point never reaches the format: plain "%f".
  for (const char* bad : {"s", ".4s", "%n", ".4%n", "-.2", "+.2", "*.2", "l", ".2l", "999", ".999", "..2", "1.2.3",
                          " .2", ".2 "}) {
    EXPECT_EQ(formatDecimal(bad, 1.5), "1.500000") << bad;
  }
}

TEST(TextUtilitiesTest, EmailIsFoundAnywhereInTheText) {
  EXPECT_TRUE(isValidEmail("a@b.cd"));
  EXPECT_FALSE(isValidEmail("a@b.c"));
  EXPECT_TRUE(isValidEmail(" x a@b.cd y"));
  EXPECT_TRUE(isValidEmail("a@b.abcdefg")) << "its first six letters already match";
  EXPECT_FALSE(isValidEmail("@b.cd"));
  EXPECT_FALSE(isValidEmail("\xc3\xa9@b.cd")) << "no letters beyond ASCII before the at sign";
}

TEST(TextUtilitiesTest, PasswordsCountUserPerceivedCharacters) {
  EXPECT_FALSE(isValidPassword("12345"));
  EXPECT_TRUE(isValidPassword("123456"));
  EXPECT_TRUE(isValidPassword("      "));
  EXPECT_TRUE(isValidPassword("\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"));
  // A family emoji joined by ZWJ is one character; so is "e" with a combining accent.
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  EXPECT_FALSE(isValidPassword(family + family + family + family + family));
  EXPECT_FALSE(isValidPassword("abcde\u0301"));
  EXPECT_TRUE(isValidPassword("abcde\u0301f"));
}

TEST(TextUtilitiesTest, ViewportHeaderIsTheExactElement) {
  EXPECT_EQ(htmlViewportHeader(), "<meta name=\"viewport\" content=\"initial-scale=1.0\" />");
  EXPECT_EQ(htmlViewportHeader().size(), 52u);
  EXPECT_EQ(&htmlViewportHeader(), &htmlViewportHeader());
}
