#include "platform/net/http_cookie_storage.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace {

bool isIPLiteral(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() && std::all_of(host.begin(), host.end(),
                                      [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
}

// The host itself, or a subdomain of it; an address matches only itself.
bool hostIsWithinDomainOf(const std::string& host, const std::string& documentHost) {
  if (host == documentHost) return !host.empty();
  if (host.empty() || documentHost.empty() || isIPLiteral(host) || isIPLiteral(documentHost)) return false;
  return host.size() > documentHost.size() + 1 && host.ends_with("." + documentHost);
}

}  // namespace

std::shared_ptr<HTTPCookieStorage> HTTPCookieStorage::sharedHTTPCookieStorage() {
  static const auto shared = std::make_shared<HTTPCookieStorage>();
  return shared;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookies() {
  Date now = Date::now();
  std::lock_guard lock(mutex_);
  removeExpiredLocked(now);
  std::vector<HTTPCookie> out;
  for (const auto& stored : cookies_) out.push_back(stored.first);
  return out;
}

void HTTPCookieStorage::removeExpiredLocked(Date now) {
  std::erase_if(cookies_, [&](const auto& c) { return c.first.hasExpired(now); });
}

void HTTPCookieStorage::storeLocked(const HTTPCookie& cookie, Date now) {
  if (cookie.name.empty() || cookie.domain.empty() || cookie.path.empty()) return;
  auto same =
      std::find_if(cookies_.begin(), cookies_.end(), [&](const auto& c) { return c.first.isSameCookie(cookie); });
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
  if (policy_ == HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain && mainDocumentURL) {
    const std::string host = asciiLowercase(url ? url->host().value_or("") : "");
    if (!hostIsWithinDomainOf(host, asciiLowercase(mainDocumentURL->host().value_or("")))) return;
  }
  removeExpiredLocked(now);
  for (const auto& cookie : cookies) storeLocked(cookie, now);
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  std::erase_if(cookies_, [&](const auto& c) { return c.first.isSameCookie(cookie); });
}

void HTTPCookieStorage::removeCookiesSinceDate(Date date) {
  std::lock_guard lock(mutex_);
  std::erase_if(cookies_, [&](const auto& c) { return c.second >= date; });
}

std::optional<std::vector<HTTPCookie>> HTTPCookieStorage::cookiesForURL(const URL& url) {
  std::lock_guard lock(mutex_);
  if (cookies_.empty()) return std::nullopt;  // nothing to send, nothing to expire
  removeExpiredLocked(Date::now());
  std::vector<HTTPCookie> out;
  for (const auto& [cookie, stored] : cookies_)
    if (shouldSendCookie(cookie, url)) out.push_back(cookie);
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
