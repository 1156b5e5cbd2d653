#pragma once

#include <vector>

#include "platform/foundation/url.h"
#include "platform/net/http_cookie.h"
#include "platform/net/http_cookie_storage.h"

// The fetchers' in-memory cookie jar: the platform jar, except that a loopback request sees the
// cookies of every loopback name, whichever of them set it.
class ZSDK_ZTKSessionCookieStorage : public HTTPCookieStorage {
 public:
  using HTTPCookieStorage::setCookies;
  // Stores the cookies whatever URL they came from; ignored while the policy is "never".
  void setCookies(const std::vector<HTTPCookie>& cookies) { setCookies(cookies, std::nullopt, std::nullopt); }
  void removeAllCookies() { removeCookiesSinceDate(Date::distantPast()); }

 protected:
  bool shouldSendCookie(const HTTPCookie& cookie, const URL& url) const override;
};
