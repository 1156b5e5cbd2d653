#include "platform/net/http_cookie_storage.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <unordered_map>

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
  for (const auto& stored : cookies_) out.push_back(stored.cookie);
  return out;
}

void HTTPCookieStorage::removeExpiredLocked(Date now) {
  std::erase_if(cookies_, [&](const auto& c) { return c.cookie.hasExpired(now); });
}

void HTTPCookieStorage::storeLocked(const HTTPCookie& cookie, Date now) {
  if (cookie.name.empty() || cookie.domain.empty() || cookie.path.empty()) return;
  if (cookie.name.size() + cookie.value.size() > kMaximumCookieBytes) return;
  auto same =
      std::find_if(cookies_.begin(), cookies_.end(), [&](const auto& c) { return c.cookie.isSameCookie(cookie); });
  if (same != cookies_.end()) cookies_.erase(same);
  if (!cookie.hasExpired(now)) cookies_.push_back({cookie, now, ++uses_});
}

void HTTPCookieStorage::keepWithinBoundsLocked(Date now) {
  removeExpiredLocked(now);
  if (cookies_.size() <= kMaximumCookiesPerDomain) return;
  std::vector<bool> evicted(cookies_.size());
  const auto earliestUsed = [&](std::size_t a, std::size_t b) { return cookies_[a].lastUsed < cookies_[b].lastUsed; };
  // Marks the `count` least recently used of `places`.
  const auto evict = [&](std::vector<std::size_t>& places, std::size_t count) {
    std::nth_element(places.begin(), places.begin() + static_cast<std::ptrdiff_t>(count), places.end(), earliestUsed);
    for (std::size_t i = 0; i < count; ++i) evicted[places[i]] = true;
  };
  // The domain as isSameCookie reads it: a host-only cookie and one naming that host count together.
  std::unordered_map<std::string, std::vector<std::size_t>> byDomain;
  for (std::size_t i = 0; i < cookies_.size(); ++i) {
    const std::string& domain = cookies_[i].cookie.domain;
    byDomain[asciiLowercase(domain.starts_with('.') ? std::string_view(domain).substr(1) : domain)].push_back(i);
  }
  std::size_t left = cookies_.size();
  for (auto& [domain, places] : byDomain) {
    if (places.size() <= kMaximumCookiesPerDomain) continue;
    left -= places.size() - kMaximumCookiesPerDomain;
    evict(places, places.size() - kMaximumCookiesPerDomain);
  }
  if (left > kMaximumCookies) {
    std::vector<std::size_t> places;
    for (std::size_t i = 0; i < cookies_.size(); ++i)
      if (!evicted[i]) places.push_back(i);
    evict(places, left - kMaximumCookies);
  }
  // remove_if reads each element at its place before anything moves onto it.
  std::erase_if(cookies_, [&](const Stored& c) { return evicted[static_cast<std::size_t>(&c - cookies_.data())]; });
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
  Date now = Date::now();
  std::lock_guard lock(mutex_);
  if (policy_ == HTTPCookieAcceptPolicy::Never) return;
  storeLocked(cookie, now);
  keepWithinBoundsLocked(now);
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
  for (const auto& cookie : cookies) storeLocked(cookie, now);
  keepWithinBoundsLocked(now);
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  std::erase_if(cookies_, [&](const auto& c) { return c.cookie.isSameCookie(cookie); });
}

void HTTPCookieStorage::removeCookiesSinceDate(Date date) {
  std::lock_guard lock(mutex_);
  std::erase_if(cookies_, [&](const auto& c) { return c.created >= date; });
}

std::optional<std::vector<HTTPCookie>> HTTPCookieStorage::cookiesForURL(const URL& url) {
  std::lock_guard lock(mutex_);
  if (cookies_.empty()) return std::nullopt;  // nothing to send, nothing to expire
  removeExpiredLocked(Date::now());
  std::vector<HTTPCookie> out;
  for (auto& stored : cookies_) {
    if (!shouldSendCookie(stored.cookie, url)) continue;
    out.push_back(stored.cookie);
    stored.lastUsed = ++uses_;
  }
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
