#include "app/text_utilities.h"

#include <locale.h>
#include <clocale>
#include <cstdio>
#include <vector>

#include "platform/foundation/text.h"

namespace {

constexpr std::string_view kEmailPattern = "[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,6}";
constexpr std::size_t kMinimumPasswordLength = 6;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// At most two digits from `pos`; returns where they end.
std::size_t skipDigits(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && end - pos < 2 && isDigit(text[end])) ++end;
  return end;
}

bool isValidDigits(std::string_view digits) {
  std::size_t pos = skipDigits(digits, 0);
  if (pos < digits.size() && digits[pos] == '.') pos = skipDigits(digits, pos + 1);
  return pos == digits.size();
}

// The "C" locale for this thread while alive, whatever the process locale is.
class CLocaleScope {
 public:
  CLocaleScope() {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    previous_ = cLocale ? uselocale(cLocale) : static_cast<locale_t>(nullptr);
  }
  ~CLocaleScope() {
    if (previous_) uselocale(previous_);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

std::string formatDecimal(std::string_view digits, double value) {
  std::string format(1, '%');
  if (isValidDigits(digits)) format.append(digits);
  format.push_back('f');
  CLocaleScope scope;
  const int length = std::snprintf(nullptr, 0, format.c_str(), value);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  std::snprintf(buffer.data(), buffer.size(), format.c_str(), value);
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

bool isValidEmail(std::string_view text) {
  static const auto expression = RegularExpression::make(kEmailPattern);
  return expression && expression->firstMatch(text).has_value();
}

bool isValidPassword(std::string_view text) { return graphemeCount(text) >= kMinimumPasswordLength; }

const std::string& htmlViewportHeader() {
  static const std::string header = "<meta name=\"viewport\" content=\"initial-scale=1.0\" />";
  return header;
}
