#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/url.h"
#include "platform/net/http_cookie.h"

enum class HTTPCookieAcceptPolicy { Always = 0, Never = 1, OnlyFromMainDocumentDomain = 2 };

// A thread-safe cookie jar kept in memory. The URL session calls it from its own thread. The jar
// alone holds the cookies and the policy; a subclass only chooses which stored cookies go to a URL.
class HTTPCookieStorage {
 public:
  // Bounds, at RFC 6265's least, so that no backend makes every later request carry without end.
  // A cookie whose name and value together are longer is not stored; past a count, expired
  // cookies go first, then those of domains past theirs, then any, the least recently stored or
  // sent first.
  static constexpr std::size_t kMaximumCookieBytes = 4096;
  static constexpr std::size_t kMaximumCookiesPerDomain = 50;
  static constexpr std::size_t kMaximumCookies = 3000;

  static std::shared_ptr<HTTPCookieStorage> sharedHTTPCookieStorage();
  static std::shared_ptr<HTTPCookieStorage> make() { return std::make_shared<HTTPCookieStorage>(); }

  HTTPCookieStorage() = default;
  virtual ~HTTPCookieStorage() = default;
  HTTPCookieStorage(const HTTPCookieStorage&) = delete;
  HTTPCookieStorage& operator=(const HTTPCookieStorage&) = delete;

  // Every cookie, in the order stored (expired ones left out).
  std::vector<HTTPCookie> cookies();
  // Replaces the same cookie (HTTPCookie::isSameCookie) and goes last; an expired cookie only
  // removes its twin. A cookie without name, domain or path, or past kMaximumCookieBytes, is
  // refused and leaves its twin alone.
  void setCookie(const HTTPCookie& cookie);
  // Stores the cookies a response to `url` set, as the accept policy allows: with the
  // main-document policy, only when `url`'s host is the main document's host or a subdomain of it.
  void setCookies(const std::vector<HTTPCookie>& cookies, const std::optional<URL>& url,
                  const std::optional<URL>& mainDocumentURL);
  void deleteCookie(const HTTPCookie& cookie);
  void removeCookiesSinceDate(Date date);
  // The cookies to send to the URL, in stored order; nothing when none match. Each counts as used.
  std::optional<std::vector<HTTPCookie>> cookiesForURL(const URL& url);

  HTTPCookieAcceptPolicy cookieAcceptPolicy();
  void setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy);

 protected:
  // Whether an unexpired stored cookie goes to the URL. Called under the jar's lock.
  virtual bool shouldSendCookie(const HTTPCookie& cookie, const URL& url) const { return cookie.matchesURL(url); }

 private:
  struct Stored {
    HTTPCookie cookie;
    Date created;
    // The jar's count of stores and sends when it was last stored or sent: strictly ordered where
    // many share one instant of the clock.
    std::uint64_t lastUsed = 0;
  };
  void storeLocked(const HTTPCookie& cookie, Date now);
  void removeExpiredLocked(Date now);
  void keepWithinBoundsLocked(Date now);

  std::mutex mutex_;
  std::vector<Stored> cookies_;
  std::uint64_t uses_ = 0;
  HTTPCookieAcceptPolicy policy_ = HTTPCookieAcceptPolicy::Always;
};
