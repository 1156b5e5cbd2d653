#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/url.h"
#include "platform/net/http_cookie.h"

enum class HTTPCookieAcceptPolicy { Always = 0, Never = 1, OnlyFromMainDocumentDomain = 2 };

// A thread-safe cookie jar kept in memory. The URL session calls it from its own thread;
// subclasses replace the storage rules and must stay thread-safe.
class HTTPCookieStorage : public std::enable_shared_from_this<HTTPCookieStorage> {
 public:
  static std::shared_ptr<HTTPCookieStorage> sharedHTTPCookieStorage();
  static std::shared_ptr<HTTPCookieStorage> make() { return std::make_shared<HTTPCookieStorage>(); }

  HTTPCookieStorage() = default;
  virtual ~HTTPCookieStorage() = default;

  // Every cookie, in the order stored (expired ones left out).
  virtual std::vector<HTTPCookie> cookies();
  // Replaces a cookie with the same name, domain and path; an expired cookie only removes it.
  virtual void setCookie(const HTTPCookie& cookie);
  // Stores the cookies a response to `url` set, as the accept policy allows.
  virtual void setCookies(const std::vector<HTTPCookie>& cookies, const std::optional<URL>& url,
                          const std::optional<URL>& mainDocumentURL);
  virtual void deleteCookie(const HTTPCookie& cookie);
  virtual void removeCookiesSinceDate(Date date);
  // The cookies to send to the URL, in stored order; nothing when none match.
  virtual std::optional<std::vector<HTTPCookie>> cookiesForURL(const URL& url);

  virtual HTTPCookieAcceptPolicy cookieAcceptPolicy();
  virtual void setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy);

 private:
  void storeLocked(const HTTPCookie& cookie, Date now);

  std::mutex mutex_;
  std::vector<std::pair<HTTPCookie, Date>> cookies_;  // with the time each was stored
  HTTPCookieAcceptPolicy policy_ = HTTPCookieAcceptPolicy::Always;
};
