#include "toolkit/session_cookie_storage.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace {

bool isLocalhostName(std::string_view lowercasedHost) {
  return lowercasedHost == "localhost" || lowercasedHost == "::1" || lowercasedHost == "127.0.0.1";
}

}  // namespace

bool ZSDK_ZTKSessionCookieStorage::shouldSendCookie(const HTTPCookie& cookie, const URL& url) const {
  const std::string host = asciiLowercase(url.host().value_or(""));
  if (!isLocalhostName(host)) return cookie.matchesURL(url);
  const std::string domain = asciiLowercase(cookie.domain);
  if (!isLocalhostName(domain) && domain != "localhost.local") return false;
  // The domain is settled; the path and secure rules still apply.
  HTTPCookie asHost = cookie;
  asHost.domain = host;
  return asHost.matchesURL(url);
}
