#include "platform/net/http_cookie_storage.h"

std::shared_ptr<HTTPCookieStorage> HTTPCookieStorage::sharedHTTPCookieStorage() {
  static auto shared = std::make_shared<HTTPCookieStorage>();
  return shared;
}
std::vector<HTTPCookie> HTTPCookieStorage::cookies() { return {}; }
void HTTPCookieStorage::setCookie(const HTTPCookie&) {}
void HTTPCookieStorage::setCookies(const std::vector<HTTPCookie>&, const std::optional<URL>&, const std::optional<URL>&) {}
void HTTPCookieStorage::deleteCookie(const HTTPCookie&) {}
void HTTPCookieStorage::removeCookiesSinceDate(Date) {}
std::optional<std::vector<HTTPCookie>> HTTPCookieStorage::cookiesForURL(const URL&) { return std::nullopt; }
HTTPCookieAcceptPolicy HTTPCookieStorage::cookieAcceptPolicy() { return policy_; }
void HTTPCookieStorage::setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy) { policy_ = policy; }
void HTTPCookieStorage::storeLocked(const HTTPCookie&, Date) {}
