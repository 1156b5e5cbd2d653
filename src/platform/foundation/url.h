#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct URLQueryItem {
  std::string name;
  std::optional<std::string> value;
  bool operator==(const URLQueryItem&) const = default;
};

// A URL parsed per RFC 3986. Components are kept percent-encoded as written, except where an
// accessor says it decodes.
class URL {
 public:
  URL() = default;
  // Copies share the parsed parts, which never change after parsing; a move is a copy, so a
  // moved-from URL stays valid.
  URL(const URL&) = default;
  URL& operator=(const URL&) = default;

  // Nothing for text that is not a valid absolute or relative URL reference (spaces, bad
  // percent escapes, bad port, control characters, non-ASCII bytes...), and for empty text.
  static std::optional<URL> URLWithString(std::string_view text);
  // Resolves `text` against `base` (RFC 3986 section 5).
  static std::optional<URL> URLWithString(std::string_view text, const URL& base);
  static URL fileURLWithPath(std::string_view path);

  const std::string& absoluteString() const { return rep_->text; }
  std::optional<std::string> scheme() const { return rep_->scheme; }  // lower-cased
  std::optional<std::string> user() const { return rep_->user; }
  std::optional<std::string> password() const { return rep_->password; }
  std::optional<std::string> host() const { return rep_->host; }  // IPv6 without brackets
  std::optional<int> port() const { return rep_->port; }
  // The port a connection uses: the given one, else 443 for https and 80 for http; -1 otherwise.
  int effectivePort() const {
    return rep_->port ? *rep_->port : rep_->scheme == "https" ? 443 : rep_->scheme == "http" ? 80 : -1;
  }
  // Percent-decoded, without a trailing "/" (except the root "/"); "" when empty.
  std::string path() const;
  std::string percentEncodedPath() const { return rep_->path; }
  std::optional<std::string> query() const { return rep_->query; }
  std::optional<std::string> fragment() const { return rep_->fragment; }
  // Decoded segments; an absolute path starts with "/", empty segments are skipped.
  std::vector<std::string> pathComponents() const;
  std::string lastPathComponent() const;
  std::string pathExtension() const;
  // Query split at "&" and "=", names and values percent-decoded ("+" stays "+").
  std::vector<URLQueryItem> queryItems() const;
  bool isFileURL() const;
  // The URL with one more path component (a "/" is added when needed).
  URL URLByAppendingPathComponent(std::string_view component) const;

  bool operator==(const URL& o) const { return rep_ == o.rep_ || rep_->text == o.rep_->text; }

 private:
  static std::optional<URL> fromParts(const std::string& scheme, const std::optional<std::string>& authority,
                                      std::string path, std::optional<std::string> query,
                                      std::optional<std::string> fragment, bool hasScheme);

  struct Rep {
    std::string text;
    std::string rawScheme;
    std::optional<std::string> authority;
    std::optional<std::string> scheme, user, password, host;
    std::optional<int> port;
    std::string path;
    std::optional<std::string> query, fragment;
  };
  static const std::shared_ptr<const Rep>& emptyRep();

  std::shared_ptr<const Rep> rep_ = emptyRep();
};

// Character sets of the platform for percent-encoding.
enum class URLCharacterSet { QueryAllowed, PathAllowed, FragmentAllowed, HostAllowed, UserAllowed, PasswordAllowed };

// Percent-encodes every byte outside `allowed` as %XX (upper-case). Nothing for invalid UTF-8.
std::optional<std::string> stringByAddingPercentEncoding(std::string_view text, URLCharacterSet allowed);
// Decodes %XX escapes; nothing for a malformed escape or a result that is not UTF-8.
std::optional<std::string> stringByRemovingPercentEncoding(std::string_view text);
// Builds "name=value&..." with names and values encoded for a query component.
std::string percentEncodedQuery(const std::vector<URLQueryItem>& items);
