#pragma once

#include <compare>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Unicode text helpers on UTF-8 strings. Ranges are byte offsets into the UTF-8 text. Invalid
// UTF-8 never fails: each ill-formed sequence reads as U+FFFD and keeps its own bytes.

struct TextRange {
  std::size_t location = 0;
  std::size_t length = 0;
  bool operator==(const TextRange&) const = default;
};

struct RegexMatch {
  TextRange range;
  // Capture groups 1..n; nothing for a group that took no part in the match.
  std::vector<std::optional<TextRange>> groups;
};

// A compiled ICU regular expression; safe to share between threads. A match attempt that runs
// away (catastrophic backtracking) is cut off and reads as no match.
class RegularExpression {
 public:
  // Nothing for a pattern that does not compile.
  static std::optional<RegularExpression> make(std::string_view pattern);

  std::optional<RegexMatch> firstMatch(std::string_view text) const;
  std::vector<RegexMatch> matches(std::string_view text) const;
  // Replaces every match; the template takes $0..$n for groups and \ to escape.
  std::string replace(std::string_view text, std::string_view replacementTemplate) const;

 private:
  struct Impl;
  explicit RegularExpression(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

// The first match of `pattern` in `text`; nothing when there is none or the pattern is invalid.
std::optional<TextRange> rangeOfRegularExpression(std::string_view text, std::string_view pattern);

// Well-formed UTF-8: no stray or missing continuation bytes, overlong forms or surrogates.
bool isValidUTF8(std::string_view text);

// User-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view text);

// Equal under Unicode canonical equivalence (NFC). Text that is not UTF-8 compares by bytes.
bool isCanonicallyEquivalent(std::string_view a, std::string_view b);

// Ordering under full case folding and canonical equivalence ("STRASSE" equals "straße").
std::strong_ordering caseInsensitiveCompare(std::string_view a, std::string_view b);

// The first range of `text` equal to `needle` under full case folding and canonical equivalence,
// starting and ending on character boundaries. Nothing for an empty needle.
std::optional<TextRange> rangeOfStringCaseInsensitive(std::string_view text, std::string_view needle);

enum class CharacterSet {
  Whitespace,             // blanks of category Zs and tab
  Newlines,               // U+000A..U+000D, U+0085, U+2028, U+2029
  WhitespaceAndNewlines,  // the Unicode White_Space property
};

// `text` without the members of `set` at either end.
std::string stringByTrimmingCharacters(std::string_view text, CharacterSet set);
