#include "platform/foundation/text.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>

namespace {

// Text decoded to UTF-16 with, for every UTF-16 index (and the end), its byte offset in the
// original UTF-8, so results map back to the caller's bytes even across invalid sequences.
struct Decoded {
  icu::UnicodeString text;
  std::vector<std::size_t> offsets;
  std::vector<UChar32> codePoints;
  std::vector<std::size_t> codePointOffsets;  // byte offset of each code point, plus the end
  bool valid = true;
};

Decoded decode(std::string_view s) {
  Decoded d;
  // Texts of 2 GiB and more are beyond the ICU index type; they are cut there.
  if (s.size() > static_cast<std::size_t>(INT32_MAX)) s = s.substr(0, INT32_MAX);
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  int32_t n = static_cast<int32_t>(s.size()), i = 0;
  d.offsets.reserve(s.size() + 1);
  while (i < n) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(p, i, n, c);
    if (c < 0) {
      c = 0xFFFD;
      d.valid = false;
    }
    d.text.append(c);
    d.offsets.push_back(static_cast<std::size_t>(start));
    if (U16_LENGTH(c) == 2) d.offsets.push_back(static_cast<std::size_t>(start));
    d.codePoints.push_back(c);
    d.codePointOffsets.push_back(static_cast<std::size_t>(start));
  }
  d.offsets.push_back(static_cast<std::size_t>(n));
  d.codePointOffsets.push_back(static_cast<std::size_t>(n));
  return d;
}

TextRange byteRange(const Decoded& d, int32_t start, int32_t end) {
  return TextRange{d.offsets[static_cast<std::size_t>(start)],
                   d.offsets[static_cast<std::size_t>(end)] - d.offsets[static_cast<std::size_t>(start)]};
}

const icu::Normalizer2* nfd() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFDInstance(status);
  return U_SUCCESS(status) ? n : nullptr;
}

const icu::Normalizer2* nfc() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
  return U_SUCCESS(status) ? n : nullptr;
}

icu::UnicodeString normalized(const icu::Normalizer2* form, const icu::UnicodeString& s) {
  if (!form) return s;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString out = form->normalize(s, status);
  return U_SUCCESS(status) ? out : s;
}

// Canonical caseless form: NFD(fold(NFD(s))).
icu::UnicodeString caselessKey(const icu::UnicodeString& s) {
  icu::UnicodeString folded = normalized(nfd(), s);
  folded.foldCase(U_FOLD_CASE_DEFAULT);
  return normalized(nfd(), folded);
}

void appendCodePoints(const icu::UnicodeString& s, std::vector<UChar32>& out) {
  for (int32_t i = 0; i < s.length();) {
    UChar32 c = s.char32At(i);
    out.push_back(c);
    i += U16_LENGTH(c);
  }
}

// Byte offsets where a user-perceived character starts, plus the end.
std::vector<bool> graphemeBoundaries(const Decoded& d) {
  std::vector<bool> boundary(d.offsets.back() + 1, false);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !it) {
    for (std::size_t o : d.codePointOffsets) boundary[o] = true;
    return boundary;
  }
  it->setText(d.text);
  for (int32_t b = it->first(); b != icu::BreakIterator::DONE; b = it->next())
    boundary[d.offsets[static_cast<std::size_t>(b)]] = true;
  return boundary;
}

bool isNewline(UChar32 c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

bool inSet(UChar32 c, CharacterSet set) {
  switch (set) {
    case CharacterSet::Newlines: return isNewline(c);
    case CharacterSet::Whitespace: return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR;
    case CharacterSet::WhitespaceAndNewlines: return u_isUWhiteSpace(c);
  }
  return false;
}

}  // namespace

struct RegularExpression::Impl {
  std::unique_ptr<icu::RegexPattern> pattern;
};

std::optional<RegularExpression> RegularExpression::make(std::string_view pattern) {
  Decoded p = decode(pattern);
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  auto impl = std::make_shared<Impl>();
  impl->pattern.reset(icu::RegexPattern::compile(p.text, 0, parseError, status));
  if (U_FAILURE(status) || !impl->pattern) return std::nullopt;
  return RegularExpression(std::move(impl));
}

namespace {

// Runaway backtracking ("(a+)+$" against a long near-match) would stall the caller for ever; a
// match attempt that takes more engine steps than this (well under a second) counts as no match.
constexpr int32_t kMatchStepLimit = 1000;

std::unique_ptr<icu::RegexMatcher> makeMatcher(const icu::RegexPattern& pattern, const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> m(pattern.matcher(text, status));
  if (U_FAILURE(status) || !m) return nullptr;
  m->setTimeLimit(kMatchStepLimit, status);
  return U_SUCCESS(status) ? std::move(m) : nullptr;
}

std::optional<RegexMatch> currentMatch(icu::RegexMatcher& m, const Decoded& d) {
  UErrorCode status = U_ZERO_ERROR;
  RegexMatch match;
  match.range = byteRange(d, m.start(status), m.end(status));
  for (int32_t g = 1; g <= m.groupCount(); ++g) {
    int32_t s = m.start(g, status), e = m.end(g, status);
    if (U_FAILURE(status)) return std::nullopt;
    if (s < 0) match.groups.emplace_back(std::nullopt);
    else match.groups.emplace_back(byteRange(d, s, e));
  }
  if (U_FAILURE(status)) return std::nullopt;
  return match;
}

}  // namespace

std::vector<RegexMatch> RegularExpression::matches(std::string_view text) const {
  std::vector<RegexMatch> out;
  Decoded d = decode(text);
  UErrorCode status = U_ZERO_ERROR;
  auto m = makeMatcher(*impl_->pattern, d.text);
  if (!m) return out;
  while (m->find(status) && U_SUCCESS(status)) {
    auto match = currentMatch(*m, d);
    if (!match) break;
    out.push_back(std::move(*match));
  }
  return out;
}

std::optional<RegexMatch> RegularExpression::firstMatch(std::string_view text) const {
  Decoded d = decode(text);
  UErrorCode status = U_ZERO_ERROR;
  auto m = makeMatcher(*impl_->pattern, d.text);
  if (!m || !m->find(status) || U_FAILURE(status)) return std::nullopt;
  return currentMatch(*m, d);
}

std::string RegularExpression::replace(std::string_view text, std::string_view replacementTemplate) const {
  Decoded d = decode(text);
  UErrorCode status = U_ZERO_ERROR;
  auto m = makeMatcher(*impl_->pattern, d.text);
  if (!m) return std::string(text);
  icu::UnicodeString result = m->replaceAll(decode(replacementTemplate).text, status);
  // A template naming a group that does not exist, or a runaway match, leaves the text as it was.
  if (U_FAILURE(status)) return std::string(text);
  std::string out;
  result.toUTF8String(out);
  return out;
}

std::optional<TextRange> rangeOfRegularExpression(std::string_view text, std::string_view pattern) {
  auto re = RegularExpression::make(pattern);
  if (!re) return std::nullopt;
  auto match = re->firstMatch(text);
  if (!match) return std::nullopt;
  return match->range;
}

bool isValidUTF8(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  int32_t i = 0, n = static_cast<int32_t>(text.size());
  while (i < n) {
    UChar32 c;
    U8_NEXT(p, i, n, c);
    if (c < 0) return false;
  }
  return true;
}

std::size_t graphemeCount(std::string_view text) {
  Decoded d = decode(text);
  std::vector<bool> boundaries = graphemeBoundaries(d);
  std::size_t count = 0;
  for (std::size_t i = 1; i < boundaries.size(); ++i) count += boundaries[i] ? 1 : 0;
  return count;
}

bool isCanonicallyEquivalent(std::string_view a, std::string_view b) {
  if (a == b) return true;
  Decoded da = decode(a), db = decode(b);
  if (!da.valid || !db.valid) return false;
  return normalized(nfc(), da.text) == normalized(nfc(), db.text);
}

std::strong_ordering caseInsensitiveCompare(std::string_view a, std::string_view b) {
  Decoded da = decode(a), db = decode(b);
  int8_t r = caselessKey(da.text).compareCodePointOrder(caselessKey(db.text));
  if (r == 0 && (!da.valid || !db.valid)) return a <=> b;  // distinct bad bytes stay distinct
  return r < 0 ? std::strong_ordering::less : r > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Plain ASCII folds to its lower case, and every two characters but CR LF are apart: the answer
// of the general road below without its cost (a list filtered per keystroke asks thousands of
// times).
std::optional<TextRange> rangeOfAsciiCaseInsensitive(std::string_view text, std::string_view needle) {
  auto boundary = [&](std::size_t at) { return at == 0 || at >= text.size() || text.compare(at - 1, 2, "\r\n") != 0; };
  auto same = [](char a, char b) { return asciiLower(a) == asciiLower(b); };
  for (std::size_t k = 0; k + needle.size() <= text.size(); ++k) {
    if (std::equal(needle.begin(), needle.end(), text.begin() + static_cast<std::ptrdiff_t>(k), same) &&
        boundary(k) && boundary(k + needle.size()))
      return TextRange{k, needle.size()};
  }
  return std::nullopt;
}

}  // namespace

std::optional<TextRange> rangeOfStringCaseInsensitive(std::string_view text, std::string_view needle) {
  if (needle.empty()) return std::nullopt;
  if (isAscii(text) && isAscii(needle)) return rangeOfAsciiCaseInsensitive(text, needle);
  Decoded hay = decode(text);
  // Each code point keeps its own caseless form, so a match maps back to whole code points.
  std::vector<UChar32> key;
  std::vector<std::size_t> owner;  // index of the code point each key element came from
  for (std::size_t i = 0; i < hay.codePoints.size(); ++i) {
    appendCodePoints(caselessKey(icu::UnicodeString(hay.codePoints[i])), key);
    owner.resize(key.size(), i);
  }
  std::vector<UChar32> pattern;
  for (UChar32 c : decode(needle).codePoints) appendCodePoints(caselessKey(icu::UnicodeString(c)), pattern);
  if (pattern.empty() || pattern.size() > key.size()) return std::nullopt;

  std::vector<bool> boundary = graphemeBoundaries(hay);
  for (std::size_t k = 0; k + pattern.size() <= key.size(); ++k) {
    std::size_t end = k + pattern.size();
    if (k > 0 && owner[k - 1] == owner[k]) continue;
    if (end < key.size() && owner[end] == owner[end - 1]) continue;
    if (!std::equal(pattern.begin(), pattern.end(), key.begin() + static_cast<std::ptrdiff_t>(k))) continue;
    std::size_t from = hay.codePointOffsets[owner[k]];
    std::size_t to = hay.codePointOffsets[owner[end - 1] + 1];
    if (!boundary[from] || !boundary[to]) continue;
    return TextRange{from, to - from};
  }
  return std::nullopt;
}

std::string stringByTrimmingCharacters(std::string_view text, CharacterSet set) {
  Decoded d = decode(text);
  std::size_t first = 0, last = d.codePoints.size();
  auto member = [&](std::size_t i) { return inSet(d.codePoints[i], set); };
  while (first < last && member(first)) ++first;
  while (last > first && member(last - 1)) --last;
  return std::string(text.substr(d.codePointOffsets[first], d.codePointOffsets[last] - d.codePointOffsets[first]));
}
