#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/url.h"
#include "platform/foundation/value.h"
#include "platform/net/http_header_fields.h"

// Keys of a cookie's property dictionary.
inline constexpr const char* NSHTTPCookieName = "Name";
inline constexpr const char* NSHTTPCookieValue = "Value";
inline constexpr const char* NSHTTPCookieDomain = "Domain";
inline constexpr const char* NSHTTPCookiePath = "Path";
inline constexpr const char* NSHTTPCookieExpires = "Expires";
inline constexpr const char* NSHTTPCookieMaximumAge = "Max-Age";
inline constexpr const char* NSHTTPCookieSecure = "Secure";
inline constexpr const char* NSHTTPCookieOriginURL = "OriginURL";
inline constexpr const char* NSHTTPCookieVersion = "Version";
inline constexpr const char* NSHTTPCookieDiscard = "Discard";
inline constexpr const char* NSHTTPCookieHTTPOnly = "HttpOnly";

// One cookie. A domain with a leading "." matches its subdomains too; one without matches only
// that host. No expiry date means the cookie lasts for the session.
struct HTTPCookie {
  std::string name;
  std::string value;
  std::string domain;
  std::string path = "/";
  std::optional<Date> expiresDate;
  bool isSecure = false;
  bool isHTTPOnly = false;

  bool isSessionOnly() const { return !expiresDate.has_value(); }

  // Needs Name, Value and Domain (or OriginURL, whose host becomes the domain); Path defaults to
  // "/". Expires is a Date or an HTTP date text; Max-Age (seconds) wins over Expires.
  static std::optional<HTTPCookie> cookieWithProperties(const Value::Dictionary& properties);
  Value::Dictionary properties() const;

  // The cookies of the response's Set-Cookie fields (several may be joined by ", ") as the URL
  // may set them. Cookies whose Domain does not cover the URL's host are dropped.
  static std::vector<HTTPCookie> cookiesWithResponseHeaderFields(const HTTPHeaderFields& headerFields, const URL& url);
  // One Set-Cookie line; nothing when it is malformed or not allowed for the URL.
  static std::optional<HTTPCookie> cookieFromSetCookieHeader(std::string_view line, const URL& url);
  // {"Cookie": "a=1; b=2"}, empty for no cookies.
  static HTTPHeaderFields requestHeaderFieldsWithCookies(const std::vector<HTTPCookie>& cookies);

  // True when the cookie would be sent to the URL (domain, path and secure rules).
  bool matchesURL(const URL& url) const;
  bool hasExpired(Date now) const { return expiresDate && *expiresDate < now; }
  // Same name, domain (without regard to case) and path: one replaces the other in a store.
  bool isSameCookie(const HTTPCookie& other) const;

  bool operator==(const HTTPCookie&) const = default;
};

// Parses an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT" and the other forms cookies use).
std::optional<Date> parseHTTPDate(std::string_view text);
