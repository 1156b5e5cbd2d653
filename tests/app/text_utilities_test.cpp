#include "app/text_utilities.h"

#include <gtest/gtest.h>

TEST(TextUtilitiesTest, FormatDecimalWritesFixedDecimalsAndKeepsCallerTextOutOfTheFormat) {
  struct Case {
    const char* precision;
    double value;
    const char* text;
  };
  for (const Case& c : {Case{".4", 2.0 / 3.0, "0.6667"}, Case{".4", 0.5, "0.5000"}, Case{".2", 1, "1.00"},
                        Case{".2", 0.5, "0.50"}, Case{".0", 2.6, "3"}, Case{".10", 1.0 / 3.0, "0.3333333333"},
                        Case{"8.3", 2.5, "   2.500"}, Case{"", 1.5, "1.500000"}}) {
    EXPECT_EQ(formatDecimal(c.precision, c.value), c.text) << c.precision;
  }
  // Anything but digits around one point falls back to plain "%f".
  for (const char* bad : {"s", ".4s", "%n", ".4%n", "-.2", "*.2", ".2l", "999", ".999", "..2", " .2"}) {
    EXPECT_EQ(formatDecimal(bad, 1.5), "1.500000") << bad;
  }
}

TEST(TextUtilitiesTest, EmailsAreFoundAnywherePasswordsCountUserPerceivedCharacters) {
  for (auto [email, valid] : {std::pair{"a@b.cd", true},
                              {"a@b.c", false},
                              {" x a@b.cd y", true},
                              {"a@b.abcdefg", true},      // its first six letters already match
                              {"\xc3\xa9@b.cd", false}})  // no letters beyond ASCII before the at sign
    EXPECT_EQ(isValidEmail(email), valid) << email;

  EXPECT_FALSE(isValidPassword("12345"));
  EXPECT_TRUE(isValidPassword("      "));
  EXPECT_TRUE(isValidPassword("\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"));
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one character
  EXPECT_FALSE(isValidPassword(family + family + family + family + family));
  EXPECT_FALSE(isValidPassword("abcde\u0301"));
  EXPECT_TRUE(isValidPassword("abcde\u0301f"));
}
