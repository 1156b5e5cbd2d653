// The form and percent encodings of token requests, authorization requests and the persistence
// string.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/foundation/ascii.h"
#include "toolkit/oauth2_authentication.h"

namespace {

bool isUnreserved(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  const auto fa = asciiLowercase(a), fb = asciiLowercase(b);
  // Keys differing only in case keep a fixed order.
  return fa != fb ? fa < fb : a < b;
}

}  // namespace

std::optional<std::string> ZSDK_ZTKOAuth2Authentication::encodedOAuthValueForString(
    std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  std::string out;
  out.reserve(text->size());
  for (const unsigned char c : *text) {
    if (isUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

std::optional<std::string> ZSDK_ZTKOAuth2Authentication::unencodedOAuthParameterForString(std::string_view text) {
  return stringByRemovingPercentEncoding(text);
}

std::string ZSDK_ZTKOAuth2Authentication::encodedQueryParametersForDictionary(const Form& dict) {
  std::vector<const Form::value_type*> pairs;
  pairs.reserve(dict.size());
  for (const auto& pair : dict) pairs.push_back(&pair);
  std::sort(pairs.begin(), pairs.end(),
            [](const auto* a, const auto* b) { return lessIgnoringCase(a->first, b->first); });
  std::string out;
  for (const auto* pair : pairs) {
    if (!out.empty()) out += '&';
    out += *encodedOAuthValueForString(pair->first);
    out += '=';
    out += *encodedOAuthValueForString(pair->second);
  }
  return out;
}

std::optional<ZSDK_ZTKOAuth2Authentication::Form> ZSDK_ZTKOAuth2Authentication::dictionaryWithResponseString(
    std::optional<std::string_view> responseString) {
  if (!responseString) return std::nullopt;
  Form form;
  std::string_view rest = *responseString;
  while (true) {
    const auto amp = rest.find('&');
    const auto piece = rest.substr(0, amp);
    const auto eq = piece.find('=');
    const auto key = unencodedOAuthParameterForString(piece.substr(0, eq));
    const auto value =
        unencodedOAuthParameterForString(eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1));
    if (key && value) form[*key] = *value;
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return form;
}

std::optional<ZSDK_ZTKOAuth2Authentication::Form> ZSDK_ZTKOAuth2Authentication::dictionaryWithResponseData(
    const std::optional<Data>& data) {
  if (!data) return std::nullopt;
  return dictionaryWithResponseString(data->view());
}

std::optional<Value> ZSDK_ZTKOAuth2Authentication::dictionaryWithJSONData(const std::optional<Data>& data) {
  if (!data) return std::nullopt;
  return Value::fromJSON(data->view());
}

std::string ZSDK_ZTKOAuth2Authentication::scopeWithStrings(const std::vector<std::string>& strings) {
  return fmt::format("{}", fmt::join(strings, " "));
}
