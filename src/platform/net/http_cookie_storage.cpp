#include "platform/net/http_cookie_storage.h"

#include <algorithm>
#include <cctype>

namespace {

bool hostEndsWith(std::string host, std::string suffix) {
  auto lower = [](std::string& s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  lower(host);
  lower(suffix);
  if (host == suffix) return true;
  return host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0 &&
         host[host.size() - suffix.size() - 1] == '.';
}

}  // namespace

std::shared_ptr<HTTPCookieStorage> HTTPCookieStorage::sharedHTTPCookieStorage() {
  static const auto shared = std::make_shared<HTTPCookieStorage>();
  return shared;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookies() {
  Date now = Date::now();
  std::lock_guard lock(mutex_);
  std::vector<HTTPCookie> out;
  for (const auto& [cookie, stored] : cookies_)
    if (!cookie.hasExpired(now)) out.push_back(cookie);
  return out;
}

void HTTPCookieStorage::storeLocked(const HTTPCookie& cookie, Date now) {
  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const auto& c) { return c.first.isSameCookie(cookie); });
  if (same != cookies_.end()) cookies_.erase(same);
  if (!cookie.hasExpired(now)) cookies_.emplace_back(cookie, now);
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
  Date now = Date::now();
  std::lock_guard lock(mutex_);
  if (policy_ == HTTPCookieAcceptPolicy::Never) return;
  storeLocked(cookie, now);
}

void HTTPCookieStorage::setCookies(const std::vector<HTTPCookie>& cookies, const std::optional<URL>& url,
                                   const std::optional<URL>& mainDocumentURL) {
  Date now = Date::now();
  std::lock_guard lock(mutex_);
  if (policy_ == HTTPCookieAcceptPolicy::Never) return;
  if (policy_ == HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain && url && mainDocumentURL) {
    auto host = url->host();
    auto mainHost = mainDocumentURL->host();
    if (!host || !mainHost || !hostEndsWith(*host, *mainHost)) return;
  }
  for (const auto& cookie : cookies) storeLocked(cookie, now);
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(), [&](const auto& c) { return c.first.isSameCookie(cookie); }),
                 cookies_.end());
}

void HTTPCookieStorage::removeCookiesSinceDate(Date date) {
  std::lock_guard lock(mutex_);
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(), [&](const auto& c) { return c.second >= date; }),
                 cookies_.end());
}

std::optional<std::vector<HTTPCookie>> HTTPCookieStorage::cookiesForURL(const URL& url) {
  Date now = Date::now();
  std::lock_guard lock(mutex_);
  std::vector<HTTPCookie> out;
  for (const auto& [cookie, stored] : cookies_)
    if (!cookie.hasExpired(now) && cookie.matchesURL(url)) out.push_back(cookie);
  if (out.empty()) return std::nullopt;
  return out;
}

HTTPCookieAcceptPolicy HTTPCookieStorage::cookieAcceptPolicy() {
  std::lock_guard lock(mutex_);
  return policy_;
}

void HTTPCookieStorage::setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy) {
  std::lock_guard lock(mutex_);
  policy_ = policy;
}
