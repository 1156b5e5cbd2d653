#include "platform/foundation/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

TEST(TextTest, GraphemeCount) {
  // Combining acute, conjoining jamo, ZWJ family, skin tone, two flags; each bad byte counts once.
  for (const auto& [text, count] : {std::pair<const char*, std::size_t>{"", 0},
                                    {"abc", 3},
                                    {"e\u0301", 1},
                                    {"\u1100\u1161\u11a8", 1},
                                    {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},
                                    {"\U0001F44D\U0001F3FD", 1},
                                    {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},
                                    {"\r\n", 1},
                                    {"\xff\xfe", 2},
                                    {"a\xe2\x82", 2}})
    EXPECT_EQ(graphemeCount(text), count) << text;
}

TEST(TextTest, RegularExpressions) {
  EXPECT_FALSE(RegularExpression::make("(") || RegularExpression::make("[a-"));
  EXPECT_FALSE(rangeOfRegularExpression("anything", "*"));

  const char* email = "[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,6}";
  EXPECT_EQ(rangeOfRegularExpression("mail a@b.cd now", email), (TextRange{5, 6}));
  EXPECT_FALSE(rangeOfRegularExpression("a@b.c", email) || rangeOfRegularExpression("A@B.CD", "[a-z]@"));

  auto re = RegularExpression::make("(\\d+)-(x)?");
  ASSERT_TRUE(re);
  // Offsets are bytes of the UTF-8 text, also after multi-byte and invalid sequences.
  const std::string text = "\u00e9\xff" + std::string("12-y 7-x");
  auto m = re->firstMatch(text);
  ASSERT_TRUE(m);
  using Groups = std::vector<std::optional<TextRange>>;
  EXPECT_EQ(std::pair(m->range, m->groups), std::pair(TextRange{3, 3}, Groups{TextRange{3, 2}, std::nullopt}));
  auto all = re->matches(text);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(std::pair(all[1].range, all[1].groups),
            std::pair(TextRange{8, 3}, Groups{TextRange{8, 1}, TextRange{10, 1}}));
  EXPECT_TRUE(re->matches("none").empty());

  auto at = RegularExpression::make("(\\w+)@(\\w+)");
  ASSERT_TRUE(at);
  EXPECT_EQ(at->replace("jo@host and an@other", "$2:$1"), "host:jo and other:an");
  EXPECT_EQ(at->replace("jo@host", "\\$1"), "$1");
  EXPECT_EQ(at->replace("jo@host", "$9"), "jo@host");  // no such group: text unchanged

  // Catastrophic backtracking is cut off instead of hanging the caller.
  auto runaway = RegularExpression::make("(a+)+$");
  ASSERT_TRUE(runaway);
  const std::string nearMatch = std::string(40, 'a') + "b";
  EXPECT_TRUE(!runaway->firstMatch(nearMatch) && runaway->matches(nearMatch).empty());
  EXPECT_EQ(runaway->replace(nearMatch, "x"), nearMatch);
}

TEST(TextTest, CanonicalEquivalenceAndCaseFolding) {
  // The angstrom sign is A with ring; one half is "1/2" only by compatibility.
  EXPECT_EQ(std::tuple(isCanonicallyEquivalent("caf\u00e9", "cafe\u0301"), isCanonicallyEquivalent("\u212b", "\u00c5"),
                       isCanonicallyEquivalent("\xff", "\xff"), isCanonicallyEquivalent("a", "A"),
                       isCanonicallyEquivalent("\u00bd", "1/2"), isCanonicallyEquivalent("\xff", "\xfe")),
            std::tuple(true, true, true, false, false, false));

  for (const auto& [a, b] : {std::pair{"STRASSE", "stra\u00dfe"}, {"\u0130", "i\u0307"}, {"\u00c9COLE", "e\u0301cole"}})
    EXPECT_EQ(caseInsensitiveCompare(a, b), std::strong_ordering::equal) << a;
  EXPECT_NE(caseInsensitiveCompare("\u0130", "i"), std::strong_ordering::equal);
  EXPECT_EQ(std::pair(caseInsensitiveCompare("a", "B"), caseInsensitiveCompare("b", "A")),
            std::pair(std::strong_ordering::less, std::strong_ordering::greater));
  EXPECT_NE(caseInsensitiveCompare("\xff", "\xfe"), std::strong_ordering::equal);

  // Not found: half of a folded letter, a dotted capital I against a plain i, a split character.
  for (const auto& [text, needle] : std::initializer_list<std::pair<const char*, const char*>>{
           {"\u00df", "s"}, {"\u0130stanbul", "istanbul"}, {"cafe\u0301", "cafe"}, {"abc", ""}, {"ab", "abc"}})
    EXPECT_FALSE(rangeOfStringCaseInsensitive(text, needle)) << text << " / " << needle;
  for (const auto& [text, needle, range] :
       {std::tuple<std::string, const char*, TextRange>{"Die STRASSE", "stra\u00dfe", {4, 7}},
        {"Gro\u00dfe", "SS", {3, 2}},
        {"in \u0130stanbul", "i\u0307STANBUL", {3, 9}},
        {"cafe\u0301", "CAF\u00c9", {0, 6}},
        {"\xff" + std::string("ABC"), "abc", {1, 3}},
        {"Mathematik", "MATH", {0, 4}}})
    EXPECT_EQ(rangeOfStringCaseInsensitive(text, needle), range) << text << " / " << needle;
  // Plain ASCII on both sides: CR LF stays one character, and a needle that is not ASCII (the
  // Kelvin sign folds to k) still finds its ASCII match.
  for (const auto& [text, needle] :
       std::initializer_list<std::pair<const char*, const char*>>{{"a\r\nb", "\n"}, {"a\r\nb", "a\r"}, {"ab", "Abc"}})
    EXPECT_FALSE(rangeOfStringCaseInsensitive(text, needle)) << text << " / " << needle;
  for (const auto& [text, needle, range] :
       {std::tuple<std::string, const char*, TextRange>{"a\r\nb", "\r\nB", {1, 3}},
        {"Lecture 12 of the TERM", "term", {18, 4}},
        {"x@Y[z", "@y[", {1, 3}},
        {"Kelvin", "\u212a", {0, 1}}})
    EXPECT_EQ(rangeOfStringCaseInsensitive(text, needle), range) << text << " / " << needle;
}

TEST(TextTest, Trimming) {
  EXPECT_EQ(stringByTrimmingCharacters("\n\r hello \n\u2028", CharacterSet::Newlines), " hello ");
  EXPECT_EQ(stringByTrimmingCharacters("\t\u00a0x y\u3000", CharacterSet::Whitespace), "x y");
  EXPECT_EQ(stringByTrimmingCharacters("\nx ", CharacterSet::Whitespace), "\nx");
  EXPECT_EQ(stringByTrimmingCharacters("\u0085 x\u200b", CharacterSet::WhitespaceAndNewlines), "x\u200b");
  EXPECT_EQ(stringByTrimmingCharacters(" \n\t", CharacterSet::WhitespaceAndNewlines), "");
  EXPECT_EQ(stringByTrimmingCharacters("", CharacterSet::Newlines), "");
  EXPECT_EQ(stringByTrimmingCharacters("\n\xff\n", CharacterSet::Newlines), "\xff");
}
