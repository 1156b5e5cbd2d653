#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/url.h"
#include "platform/net/http_cookie.h"
#include "platform/net/http_cookie_storage.h"

// An in-memory cookie jar for fetchers: cookies in the order stored, one per name, domain and
// path, expired ones dropped. Every operation is serialised on the store.
class ZSDK_ZTKSessionCookieStorage : public HTTPCookieStorage {
 public:
  // A copy of every stored cookie, in the order stored.
  std::vector<HTTPCookie> cookies() override;
  // Ignored while the policy is "never".
  void setCookie(const HTTPCookie& cookie) override;
  // Drops expired cookies first.
  void setCookies(const std::vector<HTTPCookie>& cookies);
  // With the main-document policy, only cookies of the main document's host or its subdomains are
  // stored; without a main document every cookie is.
  void setCookies(const std::vector<HTTPCookie>& cookies, const std::optional<URL>& url,
                  const std::optional<URL>& mainDocumentURL) override;
  void deleteCookie(const HTTPCookie& cookie) override;
  // The cookies to send to `url` in stored order; nothing when none match.
  std::optional<std::vector<HTTPCookie>> cookiesForURL(const URL& url) override;
  void removeAllCookies();
  HTTPCookieAcceptPolicy cookieAcceptPolicy() override;
  void setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy) override;

  // True when the cookie's expiry date lies in the past; a cookie without one never expires.
  static bool hasCookieExpired(const HTTPCookie& cookie);

 private:
  void internalSetCookie(const HTTPCookie& cookie);
  // Index of the stored cookie with the same name, domain and path.
  std::optional<std::size_t> cookieMatchingCookie(const HTTPCookie& cookie) const;
  void removeExpiredCookies();

  std::recursive_mutex mutex_;
  std::vector<HTTPCookie> cookies_;
  HTTPCookieAcceptPolicy policy_ = HTTPCookieAcceptPolicy::Always;
};
