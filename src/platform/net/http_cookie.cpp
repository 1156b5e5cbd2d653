#include "platform/net/http_cookie.h"

std::optional<HTTPCookie> HTTPCookie::cookieWithProperties(const Value::Dictionary&) { return std::nullopt; }
Value::Dictionary HTTPCookie::properties() const { return {}; }
std::vector<HTTPCookie> HTTPCookie::cookiesWithResponseHeaderFields(const HTTPHeaderFields&, const URL&) { return {}; }
std::optional<HTTPCookie> HTTPCookie::cookieFromSetCookieHeader(std::string_view, const URL&) { return std::nullopt; }
HTTPHeaderFields HTTPCookie::requestHeaderFieldsWithCookies(const std::vector<HTTPCookie>&) { return {}; }
bool HTTPCookie::matchesURL(const URL&) const { return false; }
bool HTTPCookie::isSameCookie(const HTTPCookie&) const { return false; }
std::optional<Date> parseHTTPDate(std::string_view) { return std::nullopt; }
