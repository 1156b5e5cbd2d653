#include "platform/net/http_cookie.h"

#include "platform/foundation/ascii.h"

#include <arpa/inet.h>
#include <libpsl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <memory>

namespace {

// Only SP and HTAB: any other control character left in a name or value drops the cookie.
std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool hasControlCharacter(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t') || u == 0x7F;
  });
}

bool isIPAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Debian's list when installed, else the copy built into libpsl.
bool isPublicSuffix(const std::string& domain) {
  using Context = std::unique_ptr<psl_ctx_t, void (*)(psl_ctx_t*)>;
  static const Context latest(psl_latest(nullptr), psl_free);
  const psl_ctx_t* psl = latest ? latest.get() : psl_builtin();
  return psl && psl_is_public_suffix(psl, domain.c_str()) == 1;
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The directory of the request path, the default cookie path.
std::string defaultPath(const URL& url) {
  std::string path = url.percentEncodedPath();
  if (path.empty() || path.front() != '/') return "/";
  auto slash = path.rfind('/');
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool pathMatches(std::string_view cookiePath, std::string_view requestPath) {
  if (requestPath.empty()) requestPath = "/";
  if (requestPath == cookiePath) return true;
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return (!cookiePath.empty() && cookiePath.back() == '/') || requestPath[cookiePath.size()] == '/';
}

std::optional<long long> parseInteger(std::string_view s) {
  s = trimAsciiWhitespace(s);
  long long n = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
  return n;
}

bool isDateDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

// 1*maxDigits digits at the start of the token; the rest of the token is ignored.
std::optional<int> leadingNumber(std::string_view token, std::size_t minDigits, std::size_t maxDigits) {
  std::size_t n = 0;
  while (n < token.size() && std::isdigit(static_cast<unsigned char>(token[n]))) ++n;
  if (n < minDigits || n > maxDigits) return std::nullopt;
  int value = 0;
  std::from_chars(token.data(), token.data() + n, value);
  return value;
}

// Splits a joined Set-Cookie value at the commas that start a new cookie (not those inside an
// Expires date).
std::vector<std::string_view> splitJoinedSetCookie(std::string_view value) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != ',') continue;
    std::string_view rest = value.substr(i + 1);
    std::string_view head = rest.substr(0, rest.find_first_of(";,"));
    auto eq = head.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view name = trimAsciiWhitespace(head.substr(0, eq));
    if (name.empty() || name.find(' ') != std::string_view::npos) continue;
    out.push_back(value.substr(start, i - start));
    start = i + 1;
  }
  out.push_back(value.substr(start));
  return out;
}

}  // namespace

std::optional<Date> parseHTTPDate(std::string_view text) {
  std::optional<int> hour, minute, second, day, month, year;
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isDateDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    std::size_t start = i;
    while (i < text.size() && !isDateDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    std::string_view token = text.substr(start, i - start);
    if (token.empty()) continue;
    if (!hour) {
      auto c1 = token.find(':');
      auto c2 = c1 == std::string_view::npos ? c1 : token.find(':', c1 + 1);
      if (c2 != std::string_view::npos) {
        auto h = leadingNumber(token.substr(0, c1), 1, 2);
        auto m = leadingNumber(token.substr(c1 + 1, c2 - c1 - 1), 1, 2);
        auto s = leadingNumber(token.substr(c2 + 1), 1, 2);
        if (h && m && s && token.substr(0, c1).size() <= 2 && token.substr(c1 + 1, c2 - c1 - 1).size() <= 2) {
          hour = h, minute = m, second = s;
          continue;
        }
      }
    }
    if (!day && token.size() <= 2) {
      if (auto d = leadingNumber(token, 1, 2)) {
        day = d;
        continue;
      }
    }
    if (!month && token.size() >= 3) {
      std::string prefix = asciiLowercase(token.substr(0, 3));
      bool matched = false;
      for (int m = 0; m < 12; ++m) {
        if (prefix == kMonths[m]) {
          month = m + 1;
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    if (!year) {
      if (auto y = leadingNumber(token, 2, 4)) year = y;
    }
  }
  if (!hour || !day || !month || !year) return std::nullopt;
  int y = *year;
  if (y >= 70 && y <= 99) y += 1900;
  if (y >= 0 && y <= 69) y += 2000;
  if (*day < 1 || *day > 31 || y < 1601 || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = *month - 1;
  tm.tm_mday = *day;
  tm.tm_hour = *hour;
  tm.tm_min = *minute;
  tm.tm_sec = *second;
  time_t t = timegm(&tm);
  return Date::dateWithTimeIntervalSince1970(static_cast<TimeInterval>(t));
}

std::optional<HTTPCookie> HTTPCookie::cookieFromSetCookieHeader(std::string_view line, const URL& url) {
  auto host = url.host();
  if (!host || host->empty()) return std::nullopt;
  std::string requestHost = asciiLowercase(*host);

  auto semi = line.find(';');
  std::string_view pair = line.substr(0, semi);
  auto eq = pair.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  HTTPCookie cookie;
  cookie.name = std::string(trimBlanks(pair.substr(0, eq)));
  cookie.value = std::string(trimBlanks(pair.substr(eq + 1)));
  if (cookie.name.empty() || hasControlCharacter(cookie.name) || hasControlCharacter(cookie.value)) return std::nullopt;
  cookie.path = defaultPath(url);

  std::optional<std::string> domainAttribute;
  std::optional<Date> expires;
  std::optional<long long> maxAge;
  while (semi != std::string_view::npos) {
    line.remove_prefix(semi + 1);
    semi = line.find(';');
    std::string_view attribute = line.substr(0, semi);
    auto aeq = attribute.find('=');
    std::string name = asciiLowercase(trimAsciiWhitespace(attribute.substr(0, aeq)));
    std::string_view value =
        aeq == std::string_view::npos ? std::string_view() : trimAsciiWhitespace(attribute.substr(aeq + 1));
    if (name == "expires") {
      if (auto d = parseHTTPDate(value)) expires = d;
    } else if (name == "max-age") {
      if (auto n = parseInteger(value)) maxAge = n;
    } else if (name == "domain") {
      // One leading "." is dropped; a second one is left to make the domain unusable.
      if (!value.empty()) domainAttribute = asciiLowercase(value.front() == '.' ? value.substr(1) : value);
    } else if (name == "path") {
      cookie.path = !value.empty() && value.front() == '/' ? std::string(value) : defaultPath(url);
    } else if (name == "secure") {
      cookie.isSecure = true;
    } else if (name == "httponly") {
      cookie.isHTTPOnly = true;
    }
  }

  if (domainAttribute && !domainAttribute->empty()) {
    const std::string& d = *domainAttribute;
    if (d.front() == '.') return std::nullopt;
    if (d == requestHost) {
      // A public suffix may set a cookie for itself alone, never for the names under it.
      cookie.domain = isIPAddress(d) || isPublicSuffix(d) ? d : "." + d;
    } else {
      // Only a parent domain of the host, and never a bare top-level name or a public suffix.
      if (isIPAddress(requestHost) || !endsWith(requestHost, "." + d) || d.find('.') == std::string::npos ||
          isPublicSuffix(d))
        return std::nullopt;
      cookie.domain = "." + d;
    }
  } else {
    cookie.domain = requestHost;
  }

  Date now = Date::now();
  if (maxAge) {
    cookie.expiresDate =
        *maxAge <= 0 ? Date::distantPast() : now.dateByAddingTimeInterval(static_cast<double>(*maxAge));
  } else if (expires) {
    cookie.expiresDate = expires;
  }
  return cookie;
}

std::vector<HTTPCookie> HTTPCookie::cookiesWithResponseHeaderFields(const HTTPHeaderFields& headerFields,
                                                                    const URL& url) {
  std::vector<HTTPCookie> cookies;
  for (const auto& [name, value] : headerFields) {
    if (!HTTPHeaderFields::namesEqual(name, "Set-Cookie")) continue;
    for (auto part : splitJoinedSetCookie(value))
      if (auto cookie = cookieFromSetCookieHeader(part, url)) cookies.push_back(std::move(*cookie));
  }
  return cookies;
}

HTTPHeaderFields HTTPCookie::requestHeaderFieldsWithCookies(const std::vector<HTTPCookie>& cookies) {
  HTTPHeaderFields fields;
  if (cookies.empty()) return fields;
  std::string value;
  for (const auto& c : cookies) {
    if (!value.empty()) value += "; ";
    value += c.name + "=" + c.value;
  }
  fields.setValue(std::move(value), "Cookie");
  return fields;
}

bool HTTPCookie::matchesURL(const URL& url) const {
  auto host = url.host();
  if (!host || host->empty()) return false;
  std::string h = asciiLowercase(*host);
  std::string d = asciiLowercase(domain);
  if (!d.empty() && d.front() == '.') {
    std::string bare = d.substr(1);
    if (h != bare && (isIPAddress(h) || !endsWith(h, d))) return false;
  } else if (h != d) {
    return false;
  }
  if (isSecure && url.scheme() != "https") return false;
  return pathMatches(path, url.percentEncodedPath());
}

bool HTTPCookie::isSameCookie(const HTTPCookie& other) const {
  // A host-only cookie and one whose Domain names that host are one cookie.
  auto bare = [](std::string_view d) { return asciiLowercase(d.starts_with('.') ? d.substr(1) : d); };
  return name == other.name && path == other.path && bare(domain) == bare(other.domain);
}

std::optional<HTTPCookie> HTTPCookie::cookieWithProperties(const Value::Dictionary& properties) {
  auto text = [&](const char* key) -> std::optional<std::string> {
    auto it = properties.find(key);
    if (it == properties.end() || !it->second.isString()) return std::nullopt;
    return *it->second.asString();
  };
  auto flag = [&](const char* key) {
    auto it = properties.find(key);
    if (it == properties.end()) return false;
    if (auto b = it->second.asBool()) return *b;
    if (auto s = it->second.asString()) return asciiLowercase(*s) == "true" || *s == "1";
    return false;
  };
  HTTPCookie cookie;
  auto name = text(NSHTTPCookieName);
  auto value = text(NSHTTPCookieValue);
  if (!name || name->empty() || !value) return std::nullopt;
  cookie.name = *name;
  cookie.value = *value;
  if (auto domain = text(NSHTTPCookieDomain)) {
    cookie.domain = *domain;
  } else if (auto origin = text(NSHTTPCookieOriginURL)) {
    auto url = URL::URLWithString(*origin);
    if (!url || !url->host()) return std::nullopt;
    cookie.domain = asciiLowercase(*url->host());
  }
  if (cookie.domain.empty()) return std::nullopt;
  if (auto path = text(NSHTTPCookiePath)) cookie.path = *path;
  if (auto it = properties.find(NSHTTPCookieExpires); it != properties.end()) {
    if (auto d = it->second.asDate()) cookie.expiresDate = d;
    else if (auto s = it->second.asString()) cookie.expiresDate = parseHTTPDate(*s);
  }
  if (auto it = properties.find(NSHTTPCookieMaximumAge); it != properties.end()) {
    std::optional<long long> seconds;
    if (auto n = it->second.asInteger()) seconds = *n;
    else if (auto s = it->second.asString()) seconds = parseInteger(*s);
    if (seconds) cookie.expiresDate = Date::now().dateByAddingTimeInterval(static_cast<double>(*seconds));
  }
  cookie.isSecure = flag(NSHTTPCookieSecure);
  cookie.isHTTPOnly = flag(NSHTTPCookieHTTPOnly);
  return cookie;
}

Value::Dictionary HTTPCookie::properties() const {
  Value::Dictionary p{{NSHTTPCookieName, Value(name)},
                      {NSHTTPCookieValue, Value(value)},
                      {NSHTTPCookieDomain, Value(domain)},
                      {NSHTTPCookiePath, Value(path)}};
  if (expiresDate) p[NSHTTPCookieExpires] = Value(*expiresDate);
  if (isSecure) p[NSHTTPCookieSecure] = Value("TRUE");
  if (isHTTPOnly) p[NSHTTPCookieHTTPOnly] = Value("TRUE");
  return p;
}
