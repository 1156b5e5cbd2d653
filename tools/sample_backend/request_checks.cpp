#include "request_checks.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>

bool isLoopbackHttpUrl(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (url.substr(0, kScheme.size()) != kScheme || url.find('#') != std::string_view::npos) return false;
  const std::string_view rest = url.substr(kScheme.size());
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
  std::string_view host = authority;
  std::string_view port;
  if (const auto colon = authority.rfind(':'); colon != std::string_view::npos && authority.back() != ']') {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
      return false;
  }
  return host == "127.0.0.1" || host == "[::1]" || host == "localhost";
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}
