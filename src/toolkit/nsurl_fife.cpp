#include "toolkit/nsurl_fife.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <regex>

namespace {

constexpr double kMaxDimension = 3200;

// The provider's image hosts: numbered families on the image, content and blog-image domains, the
// country domains, and the internal test hosts (whose pictures live under "/image").
const char* const kImageServerPattern =
    R"(^(?:https?:)?//(?:lh[0-9]+\.images\.zedodo\.com|lh[0-9]+\.zedodocontent\.com|)"
    R"(bp[0-9]+\.blogimages\.zedodo\.com|images\.zedodo\.com|images\.zedodo\.co\.[a-z]{2}|)"
    R"((?:img-test|img-staging)[0-9]*\.sandbox\.zedodo\.com/image)/)";

// Path components, the root counted; "image" (and for the legacy test "public") as the second one
// counts one less.
std::size_t componentCount(const URL& url, bool publicCounts) {
  const auto parts = url.pathComponents();
  std::size_t n = parts.size();
  if (n > 1 && (parts[1] == "image" || (publicCounts && parts[1] == "public"))) --n;
  return n;
}

bool endsWithSlash(const URL& url) { return url.absoluteString().ends_with('/'); }

// The text up to and including the "/" before the last `count` segments.
std::string withoutLastSegments(std::string text, int count) {
  for (int i = 0; i < count; ++i) {
    while (text.ends_with('/')) text.pop_back();
    text.erase(text.rfind('/') + 1);
  }
  return text;
}

std::optional<URL> urlOf(const std::string& text) { return URL::URLWithString(text); }

long clamped(double value) { return static_cast<long>(std::min(std::ceil(value), kMaxDimension)); }

std::string word(const char* letter, double value) { return letter + std::to_string(clamped(value)); }

std::vector<std::string> dimensions(FIFEImageSize size) { return {word("w", size.width), word("h", size.height)}; }

std::vector<std::string> plus(std::vector<std::string> words, std::initializer_list<const char*> more) {
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

}  // namespace

bool isFIFEUrl(const URL& url) {
  static const std::regex pattern(kImageServerPattern);
  return std::regex_search(url.absoluteString(), pattern);
}

bool isLegacyFIFEURL(const URL& url) {
  const auto n = componentCount(url, true);
  return n >= 5 && n <= 7;
}

std::optional<std::string> FIFEArgumentsString(const URL& url) {
  if (isLegacyFIFEURL(url)) return legacyFIFEArgumentsString(url);
  const auto& text = url.absoluteString();
  const auto equals = text.rfind('=');
  if (equals == std::string::npos) return std::nullopt;
  return text.substr(equals + 1);
}

std::optional<std::string> legacyFIFEArgumentsString(const URL& url) {
  if (!isLegacyFIFEURL(url)) return std::nullopt;
  const auto parts = url.pathComponents();
  const auto n = componentCount(url, false);
  if (n == 7) return parts[parts.size() - 2];
  if (n == 6 && endsWithSlash(url)) return parts.back();
  return std::nullopt;
}

URL URLByRemovingFIFEInfo(const URL& url) {
  const auto& text = url.absoluteString();
  const auto equals = text.rfind('=');
  if (equals == std::string::npos) return url;
  return urlOf(text.substr(0, equals)).value_or(url);
}

URL URLByAppendingTrailingSlash(const URL& url) {
  if (endsWithSlash(url)) return url;
  return urlOf(url.absoluteString() + "/").value_or(url);
}

std::optional<URL> FIFEURLWithArguments(const URL& url, const std::vector<std::string>& arguments) {
  std::string joined;
  for (const auto& argument : arguments) joined += (joined.empty() ? "" : "-") + argument;
  if (isLegacyFIFEURL(url)) return FIFELegacyURLWithArgumentsString(url, joined);
  const URL bare = URLByRemovingFIFEInfo(url);
  if (arguments.empty()) return bare;
  return urlOf(bare.absoluteString() + "=" + joined);
}

std::optional<URL> FIFELegacyURLWithArgumentsString(const URL& url, const std::string& arguments) {
  const auto& text = url.absoluteString();
  const std::string fileName = url.lastPathComponent();
  switch (componentCount(url, false)) {
    case 7: return urlOf(withoutLastSegments(text, 2) + arguments + "/" + fileName);
    case 6:
      if (endsWithSlash(url)) return urlOf(withoutLastSegments(text, 1) + arguments + "/");
      return urlOf(withoutLastSegments(text, 1) + arguments + "/" + fileName);
    case 5: return urlOf(URLByAppendingTrailingSlash(url).absoluteString() + arguments + "/");
    default: return std::nullopt;
  }
}

FIFEImageSize maximumFIFEImageSize(const URL& url) {
  FIFEImageSize size{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
  const auto options = FIFEArgumentsString(url);
  if (!options) return size;
  std::size_t start = 0;
  while (start <= options->size()) {
    const auto end = std::min(options->find('-', start), options->size());
    const std::string option = options->substr(start, end - start);
    start = end + 1;
    std::size_t digits = 0;
    while (digits < option.size() && std::isalpha(static_cast<unsigned char>(option[digits]))) ++digits;
    const std::string letters = option.substr(0, digits);
    std::size_t numberEnd = digits;
    if (numberEnd < option.size() && (option[numberEnd] == '-' || option[numberEnd] == '+')) ++numberEnd;
    const std::size_t firstDigit = numberEnd;
    while (numberEnd < option.size() && std::isdigit(static_cast<unsigned char>(option[numberEnd]))) ++numberEnd;
    if (letters.empty() || numberEnd == firstDigit) continue;
    const double value = std::strtod(option.substr(digits, numberEnd - digits).c_str(), nullptr);
    if (letters == "s" || letters == "w") size.width = std::min(size.width, value);
    if (letters == "s" || letters == "h") size.height = std::min(size.height, value);
  }
  return size;
}

std::optional<URL> FIFEURLRequestingMaxSize(const URL& url, double size) {
  return FIFEURLWithArguments(url, {word("s", size)});
}
std::optional<URL> FIFEURLRequestingExactDimensions(const URL& url, FIFEImageSize size) {
  return FIFEURLWithArguments(url, plus(dimensions(size), {"n"}));
}
std::optional<URL> FIFEURLRequestingDimensions(const URL& url, FIFEImageSize size) {
  return FIFEURLWithArguments(url, dimensions(size));
}
std::optional<URL> FIFEURLRequestingSmartCropToMaxSize(const URL& url, double size) {
  return FIFEURLWithArguments(url, {word("s", size), "p"});
}
std::optional<URL> FIFEURLRequestingSmartCropToDimensions(const URL& url, FIFEImageSize size) {
  return FIFEURLWithArguments(url, plus(dimensions(size), {"p", "nu"}));
}
std::optional<URL> FIFEURLRequestingCenteredCropToDimensions(const URL& url, FIFEImageSize size) {
  return FIFEURLWithArguments(url, plus(dimensions(size), {"c", "nu"}));
}
