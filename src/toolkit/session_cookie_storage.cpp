#include "toolkit/session_cookie_storage.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace {

std::string lowercased(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool isLocalhostName(std::string_view lowercasedHost) {
  return lowercasedHost == "localhost" || lowercasedHost == "::1" || lowercasedHost == "127.0.0.1";
}

bool isIPLiteral(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() && std::all_of(host.begin(), host.end(),
                                      [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
}

// The host itself, or a subdomain of it; an address matches only itself.
bool hostIsWithinDomainOf(const std::string& host, const std::string& documentHost) {
  if (host == documentHost) return true;
  if (host.empty() || documentHost.empty() || isIPLiteral(host) || isIPLiteral(documentHost)) return false;
  return host.size() > documentHost.size() + 1 && host.ends_with("." + documentHost);
}

bool cookieDomainMatchesHost(const HTTPCookie& cookie, const std::string& host) {
  const std::string domain = lowercased(cookie.domain);
  if (isLocalhostName(host)) return isLocalhostName(domain) || domain == "localhost.local";
  if (host.empty()) return false;
  const std::string dottedDomain = domain.starts_with('.') ? domain : "." + domain;
  return ("." + host).ends_with(dottedDomain);
}

}  // namespace

std::vector<HTTPCookie> ZSDK_ZTKSessionCookieStorage::cookies() {
  std::lock_guard lock(mutex_);
  return cookies_;
}

void ZSDK_ZTKSessionCookieStorage::setCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  if (policy_ == HTTPCookieAcceptPolicy::Never) return;
  internalSetCookie(cookie);
}

void ZSDK_ZTKSessionCookieStorage::setCookies(const std::vector<HTTPCookie>& cookies) {
  std::lock_guard lock(mutex_);
  removeExpiredCookies();
  for (const auto& cookie : cookies) internalSetCookie(cookie);
}

void ZSDK_ZTKSessionCookieStorage::setCookies(const std::vector<HTTPCookie>& cookies, const std::optional<URL>& url,
                                              const std::optional<URL>& mainDocumentURL) {
  std::lock_guard lock(mutex_);
  if (policy_ == HTTPCookieAcceptPolicy::Never) return;
  if (policy_ == HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain && mainDocumentURL) {
    const std::string host = lowercased(url ? url->host().value_or("") : "");
    const std::string documentHost = lowercased(mainDocumentURL->host().value_or(""));
    if (!hostIsWithinDomainOf(host, documentHost)) return;
  }
  setCookies(cookies);
}

void ZSDK_ZTKSessionCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  if (auto index = cookieMatchingCookie(cookie)) cookies_.erase(cookies_.begin() + static_cast<std::ptrdiff_t>(*index));
}

std::optional<std::vector<HTTPCookie>> ZSDK_ZTKSessionCookieStorage::cookiesForURL(const URL& url) {
  std::lock_guard lock(mutex_);
  removeExpiredCookies();
  const std::string host = lowercased(url.host().value_or(""));
  const std::string path = url.path();
  const std::string scheme = lowercased(url.scheme().value_or(""));
  std::vector<HTTPCookie> found;
  for (const auto& cookie : cookies_) {
    if (!cookieDomainMatchesHost(cookie, host)) continue;
    if (cookie.path != "/" && !path.starts_with(cookie.path)) continue;
    if (cookie.isSecure && scheme != "https") continue;
    found.push_back(cookie);
  }
  if (found.empty()) return std::nullopt;
  return found;
}

void ZSDK_ZTKSessionCookieStorage::removeAllCookies() {
  std::lock_guard lock(mutex_);
  cookies_.clear();
}

HTTPCookieAcceptPolicy ZSDK_ZTKSessionCookieStorage::cookieAcceptPolicy() {
  std::lock_guard lock(mutex_);
  return policy_;
}

void ZSDK_ZTKSessionCookieStorage::setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy) {
  std::lock_guard lock(mutex_);
  policy_ = policy;
}

bool ZSDK_ZTKSessionCookieStorage::hasCookieExpired(const HTTPCookie& cookie) {
  std::optional<Date> expires = cookie.expiresDate;
  if (!expires) {
    const auto properties = cookie.properties();
    if (auto it = properties.find(NSHTTPCookieExpires); it != properties.end()) expires = it->second.asDate();
  }
  return expires && *expires < Date::now();
}

void ZSDK_ZTKSessionCookieStorage::internalSetCookie(const HTTPCookie& cookie) {
  if (policy_ == HTTPCookieAcceptPolicy::Never) return;
  if (cookie.name.empty() || cookie.domain.empty() || cookie.path.empty()) return;
  // An expired cookie still replaces its stored twin: that is how a server deletes one.
  if (auto index = cookieMatchingCookie(cookie)) cookies_.erase(cookies_.begin() + static_cast<std::ptrdiff_t>(*index));
  if (!hasCookieExpired(cookie)) cookies_.push_back(cookie);
}

std::optional<std::size_t> ZSDK_ZTKSessionCookieStorage::cookieMatchingCookie(const HTTPCookie& cookie) const {
  for (std::size_t i = 0; i < cookies_.size(); ++i) {
    const auto& stored = cookies_[i];
    if (stored.name == cookie.name && stored.domain == cookie.domain && stored.path == cookie.path) return i;
  }
  return std::nullopt;
}

void ZSDK_ZTKSessionCookieStorage::removeExpiredCookies() {
  for (std::size_t i = cookies_.size(); i-- > 0;) {
    if (hasCookieExpired(cookies_[i])) cookies_.erase(cookies_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}
