#include "platform/foundation/url.h"

#include "platform/foundation/text.h"

#include <unistd.h>

#include <cctype>
#include <climits>

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  return (c | 0x20) - 'a' + 10;
}
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c) {
  switch (c) {
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=': return true;
    default: return false;
  }
}
bool isPchar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@'; }
bool isPathChar(char c) { return isPchar(c) || c == '/'; }
bool isQueryChar(char c) { return isPchar(c) || c == '/' || c == '?'; }
bool isUserInfoChar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; }
bool isRegNameChar(char c) { return isUnreserved(c) || isSubDelim(c); }

// Every byte is allowed or starts a well-formed %XX escape.
bool validComponent(std::string_view s, bool (*allowed)(char)) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
      i += 2;
    } else if (!allowed(s[i])) {
      return false;
    }
  }
  return true;
}

bool validScheme(std::string_view s) {
  if (s.empty() || !isAlpha(s[0])) return false;
  for (char c : s)
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

bool isIPv4(std::string_view s) {
  int octets = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t start = i;
    int value = 0;
    while (i < s.size() && isDigit(s[i]) && i - start < 3) value = value * 10 + (s[i++] - '0');
    std::size_t len = i - start;
    if (len == 0 || value > 255 || (len > 1 && s[start] == '0')) return false;
    ++octets;
    if (i == s.size()) return octets == 4;
    if (s[i] != '.' || octets == 4) return false;
    ++i;
  }
}

// Colon-separated 16-bit groups; the last may be an IPv4 address (two groups).
bool ipv6Groups(std::string_view s, bool allowIPv4, int& count) {
  count = 0;
  if (s.empty()) return true;
  std::size_t start = 0;
  while (true) {
    std::size_t colon = s.find(':', start);
    std::string_view part = s.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (colon == std::string_view::npos && allowIPv4 && part.find('.') != std::string_view::npos) {
      if (!isIPv4(part)) return false;
      count += 2;
      return true;
    }
    if (part.empty() || part.size() > 4) return false;
    for (char c : part)
      if (!isHex(c)) return false;
    ++count;
    if (colon == std::string_view::npos) return true;
    start = colon + 1;
  }
}

bool isIPv6(std::string_view s) {
  std::size_t zone = s.find("%25");
  if (zone != std::string_view::npos) {
    std::string_view id = s.substr(zone + 3);
    if (id.empty() || !validComponent(id, isUnreserved)) return false;
    s = s.substr(0, zone);
  }
  std::size_t gap = s.find("::");
  int left = 0, right = 0;
  if (gap == std::string_view::npos) return ipv6Groups(s, true, left) && left == 8;
  std::string_view rest = s.substr(gap + 2);
  if (rest.find("::") != std::string_view::npos) return false;
  return ipv6Groups(s.substr(0, gap), false, left) && ipv6Groups(rest, true, right) && left + right <= 7;
}

bool isIPvFuture(std::string_view s) {
  if (s.size() < 4 || (s[0] != 'v' && s[0] != 'V')) return false;
  std::size_t dot = s.find('.');
  if (dot == std::string_view::npos || dot < 2) return false;
  for (std::size_t i = 1; i < dot; ++i)
    if (!isHex(s[i])) return false;
  std::string_view tail = s.substr(dot + 1);
  if (tail.empty()) return false;
  for (char c : tail)
    if (!isUnreserved(c) && !isSubDelim(c) && c != ':') return false;
  return true;
}

// The five components of a URI reference, as written (RFC 3986 appendix B).
struct Parts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

Parts split(std::string_view text) {
  Parts p;
  std::size_t schemeEnd = text.find_first_of(":/?#");
  if (schemeEnd != std::string_view::npos && schemeEnd > 0 && text[schemeEnd] == ':') {
    p.scheme = std::string(text.substr(0, schemeEnd));
    text.remove_prefix(schemeEnd + 1);
  }
  if (text.substr(0, 2) == "//") {
    std::size_t end = text.find_first_of("/?#", 2);
    p.authority = std::string(text.substr(2, end == std::string_view::npos ? std::string_view::npos : end - 2));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  }
  std::size_t hash = text.find('#');
  if (hash != std::string_view::npos) {
    p.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  std::size_t q = text.find('?');
  if (q != std::string_view::npos) {
    p.query = std::string(text.substr(q + 1));
    text = text.substr(0, q);
  }
  p.path = std::string(text);
  return p;
}

std::string compose(const Parts& p) {
  std::string out;
  if (p.scheme) out += *p.scheme + ":";
  if (p.authority) out += "//" + *p.authority;
  out += p.path;
  if (p.query) out += "?" + *p.query;
  if (p.fragment) out += "#" + *p.fragment;
  return out;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.substr(0, 3) == "../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == "./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == "/./") {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.substr(0, 4) == "/../" || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      std::size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      std::size_t next = in.find('/', 1);
      if (next == std::string_view::npos) next = in.size();
      out.append(in.substr(0, next));
      in.remove_prefix(next);
    }
  }
  return out;
}

bool allowedIn(URLCharacterSet set, char c) {
  switch (set) {
    case URLCharacterSet::QueryAllowed:
    case URLCharacterSet::FragmentAllowed: return isQueryChar(c);
    case URLCharacterSet::PathAllowed: return isPathChar(c) && c != ';';
    case URLCharacterSet::HostAllowed: return isRegNameChar(c) || c == ':' || c == '[' || c == ']';
    case URLCharacterSet::UserAllowed:
    case URLCharacterSet::PasswordAllowed: return isRegNameChar(c);
  }
  return false;
}

template <class Allowed>
std::string percentEncodeBytes(std::string_view text, Allowed allowed) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (allowed(c)) {
      out += c;
    } else {
      auto b = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

// Decodes escapes without any check of the result's encoding.
std::optional<std::string> percentDecodeBytes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return std::nullopt;
    out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
    i += 2;
  }
  return out;
}

// Decoded text, or the text as written when it does not decode to UTF-8.
std::string decodedOrRaw(std::string_view s) {
  auto d = stringByRemovingPercentEncoding(s);
  return d ? *d : std::string(s);
}

}  // namespace

const std::shared_ptr<const URL::Rep>& URL::emptyRep() {
  // Never destroyed: URLs of static objects may outlive it otherwise.
  static const auto* empty = new std::shared_ptr<const Rep>(std::make_shared<const Rep>());
  return *empty;
}

std::optional<URL> URL::fromParts(const std::string& scheme, const std::optional<std::string>& authority,
                                  std::string path, std::optional<std::string> query,
                                  std::optional<std::string> fragment, bool hasScheme) {
  Rep url;
  if (hasScheme) {
    if (!validScheme(scheme)) return std::nullopt;
    std::string lower = scheme;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    url.scheme = std::move(lower);
  }
  if (authority) {
    std::string_view a = *authority;
    std::size_t at = a.find('@');
    if (at != std::string_view::npos) {
      std::string_view info = a.substr(0, at);
      if (!validComponent(info, isUserInfoChar)) return std::nullopt;
      std::size_t colon = info.find(':');
      url.user = std::string(info.substr(0, colon));
      if (colon != std::string_view::npos) url.password = std::string(info.substr(colon + 1));
      a.remove_prefix(at + 1);
    }
    std::string_view host, rest;
    if (!a.empty() && a[0] == '[') {
      std::size_t close = a.find(']');
      if (close == std::string_view::npos) return std::nullopt;
      host = a.substr(1, close - 1);
      if (!isIPv6(host) && !isIPvFuture(host)) return std::nullopt;
      rest = a.substr(close + 1);
    } else {
      std::size_t colon = a.find(':');
      host = a.substr(0, colon);
      if (!validComponent(host, isRegNameChar)) return std::nullopt;
      rest = colon == std::string_view::npos ? std::string_view() : a.substr(colon);
    }
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      rest.remove_prefix(1);
      if (!rest.empty()) {
        long port = 0;
        for (char c : rest) {
          if (!isDigit(c)) return std::nullopt;
          port = port * 10 + (c - '0');
          if (port > 65535) return std::nullopt;
        }
        url.port = static_cast<int>(port);
      }
    }
    if (!host.empty()) url.host = std::string(host);
  }
  if (!validComponent(path, isPathChar)) return std::nullopt;
  // Without an authority a path starting "//" would read back as one ("g:a/..//b" resolves to
  // the path "//b"); a leading "/." keeps it a path and names the same resource.
  if (!authority && path.starts_with("//")) path.insert(0, "/.");
  if (query && !validComponent(*query, isQueryChar)) return std::nullopt;
  if (fragment && !validComponent(*fragment, isQueryChar)) return std::nullopt;

  Parts p{hasScheme ? std::optional<std::string>(scheme) : std::nullopt, authority, path, query, fragment};
  url.text = compose(p);
  url.authority = authority;
  url.path = std::move(path);
  url.query = std::move(query);
  url.fragment = std::move(fragment);
  url.rawScheme = scheme;
  URL result;
  result.rep_ = std::make_shared<const Rep>(std::move(url));
  return result;
}

std::optional<URL> URL::URLWithString(std::string_view text) {
  // An empty reference only means something against a base.
  if (text.empty()) return std::nullopt;
  Parts p = split(text);
  if (!p.scheme && text.find(':') < text.find_first_of("/?#")) return std::nullopt;
  return fromParts(p.scheme.value_or(""), p.authority, p.path, p.query, p.fragment, p.scheme.has_value());
}

std::optional<URL> URL::URLWithString(std::string_view text, const URL& base) {
  if (!text.empty() && !URLWithString(text)) return std::nullopt;
  Parts r = split(text);
  Parts b = split(base.rep_->text);
  Parts t;
  if (r.scheme) {
    t = r;
    t.path = removeDotSegments(r.path);
  } else {
    if (r.authority) {
      t.authority = r.authority;
      t.path = removeDotSegments(r.path);
      t.query = r.query;
    } else {
      if (r.path.empty()) {
        t.path = b.path;
        t.query = r.query ? r.query : b.query;
      } else {
        if (r.path[0] == '/') {
          t.path = removeDotSegments(r.path);
        } else {
          std::string merged;
          if (b.authority && b.path.empty()) {
            merged = "/" + r.path;
          } else {
            std::size_t slash = b.path.rfind('/');
            merged = (slash == std::string::npos ? std::string() : b.path.substr(0, slash + 1)) + r.path;
          }
          t.path = removeDotSegments(merged);
        }
        t.query = r.query;
      }
      t.authority = b.authority;
    }
    t.scheme = b.scheme;
  }
  t.fragment = r.fragment;
  return fromParts(t.scheme.value_or(""), t.authority, t.path, t.query, t.fragment, t.scheme.has_value());
}

URL URL::fileURLWithPath(std::string_view path) {
  std::string full(path);
  if (full.empty() || full[0] != '/') {
    std::string cwd(PATH_MAX, '\0');
    if (getcwd(cwd.data(), cwd.size())) {
      cwd.resize(cwd.find('\0'));
      if (cwd.empty() || cwd.back() != '/') cwd += '/';
      full = cwd + full;
    } else {
      full = "/" + full;
    }
  }
  std::string encoded = percentEncodeBytes(full, [](char c) { return allowedIn(URLCharacterSet::PathAllowed, c); });
  // Only allowed characters and escapes remain, so this always parses.
  return *fromParts("file", std::string(), std::move(encoded), std::nullopt, std::nullopt, true);
}

std::string URL::path() const {
  std::string p = decodedOrRaw(rep_->path);
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::vector<std::string> URL::pathComponents() const {
  std::vector<std::string> out;
  std::string_view p = rep_->path;
  if (p.empty()) return out;
  if (p[0] == '/') out.emplace_back("/");
  std::size_t start = 0;
  while (start <= p.size()) {
    std::size_t slash = p.find('/', start);
    if (slash == std::string_view::npos) slash = p.size();
    if (slash > start) out.push_back(decodedOrRaw(p.substr(start, slash - start)));
    start = slash + 1;
  }
  return out;
}

std::string URL::lastPathComponent() const {
  auto parts = pathComponents();
  return parts.empty() ? std::string() : parts.back();
}

std::string URL::pathExtension() const {
  std::string last = lastPathComponent();
  std::size_t dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
  return last.substr(dot + 1);
}

std::vector<URLQueryItem> URL::queryItems() const {
  std::vector<URLQueryItem> items;
  if (!rep_->query || rep_->query->empty()) return items;
  std::string_view q = *rep_->query;
  std::size_t start = 0;
  while (start <= q.size()) {
    std::size_t amp = q.find('&', start);
    if (amp == std::string_view::npos) amp = q.size();
    std::string_view piece = q.substr(start, amp - start);
    std::size_t eq = piece.find('=');
    URLQueryItem item;
    item.name = decodedOrRaw(piece.substr(0, eq));
    if (eq != std::string_view::npos) item.value = decodedOrRaw(piece.substr(eq + 1));
    items.push_back(std::move(item));
    start = amp + 1;
  }
  return items;
}

bool URL::isFileURL() const { return rep_->scheme == "file"; }

URL URL::URLByAppendingPathComponent(std::string_view component) const {
  std::string encoded =
      percentEncodeBytes(component, [](char c) { return allowedIn(URLCharacterSet::PathAllowed, c); });
  std::string path = rep_->path;
  if (!path.empty() && path.back() == '/' && !encoded.empty() && encoded[0] == '/') encoded.erase(0, 1);
  if ((path.empty() && rep_->authority) || (!path.empty() && path.back() != '/')) path += '/';
  path += encoded;
  // The new path holds only allowed characters and escapes, so the rebuilt URL is valid.
  auto url = fromParts(rep_->rawScheme, rep_->authority, std::move(path), rep_->query, rep_->fragment,
                       rep_->scheme.has_value());
  return url ? *url : *this;
}

std::optional<std::string> stringByAddingPercentEncoding(std::string_view text, URLCharacterSet allowed) {
  if (!isValidUTF8(text)) return std::nullopt;
  return percentEncodeBytes(text, [allowed](char c) { return allowedIn(allowed, c); });
}

std::optional<std::string> stringByRemovingPercentEncoding(std::string_view text) {
  auto decoded = percentDecodeBytes(text);
  if (!decoded || !isValidUTF8(*decoded)) return std::nullopt;
  return decoded;
}

std::string percentEncodedQuery(const std::vector<URLQueryItem>& items) {
  // "+" is escaped too: form decoders on the other side would read it as a blank.
  auto allowed = [](char c) { return isQueryChar(c) && c != '&' && c != '=' && c != '+'; };
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += '&';
    out += percentEncodeBytes(items[i].name, allowed);
    if (items[i].value) out += "=" + percentEncodeBytes(*items[i].value, allowed);
  }
  return out;
}
