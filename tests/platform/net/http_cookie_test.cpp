#include "platform/net/http_cookie.h"

#include <gtest/gtest.h>

#include "platform/net/http_cookie_storage.h"
#include "support/virtual_time.h"

namespace {

URL url(const char* text) { return *URL::URLWithString(text); }

// The cookies as a request would carry them.
std::string jar(const std::vector<HTTPCookie>& cookies) {
  return HTTPCookie::requestHeaderFieldsWithCookies(cookies).valueForHTTPHeaderField("Cookie").value_or("");
}

TEST(HTTPCookieTest, SetCookieLinesFollowTheDomainAndPathRules) {
  VirtualTime time;
  auto page = url("http://www.example.com/account/login");

  auto hostOnly = HTTPCookie::cookieFromSetCookieHeader("sid = a b ; HttpOnly; Secure", page);
  ASSERT_TRUE(hostOnly);
  // The path is the directory of the request path.
  EXPECT_EQ(std::tie(hostOnly->name, hostOnly->value, hostOnly->domain, hostOnly->path),
            std::tuple("sid", "a b", "www.example.com", "/account"));
  EXPECT_TRUE(hostOnly->isSecure && hostOnly->isHTTPOnly && hostOnly->isSessionOnly());
  EXPECT_FALSE(hostOnly->matchesURL(url("http://www.example.com/account")));  // secure: https only
  EXPECT_TRUE(hostOnly->matchesURL(url("https://www.example.com/account/x")));
  EXPECT_FALSE(hostOnly->matchesURL(url("https://www.example.com/accounts")));
  EXPECT_FALSE(hostOnly->matchesURL(url("https://sub.www.example.com/account")));

  auto parent = HTTPCookie::cookieFromSetCookieHeader("p=1; Domain=.Example.com; Path=/", page);
  ASSERT_TRUE(parent);
  EXPECT_TRUE(parent->matchesURL(url("http://example.com/")));
  EXPECT_TRUE(parent->matchesURL(url("http://a.b.example.com/x")));
  EXPECT_FALSE(parent->matchesURL(url("http://badexample.com/")));

  // Max-Age wins over Expires; both are read against the current clock.
  auto aged = HTTPCookie::cookieFromSetCookieHeader("a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT; Max-Age=60", page);
  EXPECT_EQ(aged->expiresDate, time.now().dateByAddingTimeInterval(60));
  auto dated = HTTPCookie::cookieFromSetCookieHeader("a=1; expires=Wednesday, 21-Oct-37 07:28:00 GMT", page);
  EXPECT_EQ(dated->expiresDate, Date::dateWithTimeIntervalSince1970(2139722880));
  EXPECT_TRUE(HTTPCookie::cookieFromSetCookieHeader("a=1; Max-Age=0", page)->hasExpired(time.now()));

  // A joined header keeps the comma inside an Expires date.
  HTTPHeaderFields fields{{"Set-Cookie", "a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT, b=2"}};
  auto joined = HTTPCookie::cookiesWithResponseHeaderFields(fields, page);
  EXPECT_EQ(jar(joined), "a=1; b=2");
}

TEST(HTTPCookieTest, SetCookieDomainPathAndCharacterRules) {
  struct Row {
    const char* line;
    const char* url;
    const char* domain;
    const char* path;
  };
  const Row rows[] = {
      {"x=1; Domain=.Example.com", "http://www.example.com/a/b", ".example.com", "/a"},
      {"x=1; Domain=www.example.com", "http://www.example.com/", ".www.example.com", "/"},
      {"x=1; Domain=.", "http://www.example.com/", "www.example.com", "/"},
      {"x=1; Domain=127.0.0.1", "http://127.0.0.1/", "127.0.0.1", "/"},
      {"x=1; Domain=..example.com; Domain=example.com", "http://www.example.com/", ".example.com", "/"},
      // Public suffixes: only the host that is one may name itself, and that cookie is host-only.
      {"x=1; Domain=example.co.uk", "http://www.example.co.uk/", ".example.co.uk", "/"},
      {"x=1; Domain=co.uk", "http://co.uk/", "co.uk", "/"},
      // The last Path wins; an empty or relative one means the default path.
      {"x=1; Path=/p; Path=", "http://h.org/dir/page", "h.org", "/dir"},
      {"x=1; Path=/p; Path=rel", "http://h.org/dir/page", "h.org", "/dir"},
      {"x=1; Path=; Path=/q", "http://h.org/dir/page", "h.org", "/q"},
      {"x=1; Path=/dir/", "http://h.org/", "h.org", "/dir/"},
      // Tabs around the value are trimmed.
      {"x=\t1 ", "http://h.org/", "h.org", "/"},
  };
  for (const auto& row : rows) {
    auto cookie = HTTPCookie::cookieFromSetCookieHeader(row.line, url(row.url));
    ASSERT_TRUE(cookie) << row.line;
    EXPECT_EQ(std::tie(cookie->domain, cookie->path), std::tuple(row.domain, row.path)) << row.line;
  }
  // Dropped: a Domain outside the host or a public suffix, a control character, no value at all.
  const std::pair<const char*, std::vector<const char*>> dropped[] = {
      {"http://www.example.com/", {"x=1; Domain=other.com", "x=1; Domain=com", "x=1; Domain=..example.com"}},
      {"http://127.0.0.1/", {"x=1; Domain=0.0.1"}},
      {"http://www.example.co.uk/", {"x=1; Domain=co.uk"}},
      {"http://h.org/", {"x=1\r2", "x\x01=1", "x=1\x7f", "novalue"}}};
  for (const auto& [page, lines] : dropped)
    for (const char* line : lines) EXPECT_FALSE(HTTPCookie::cookieFromSetCookieHeader(line, url(page))) << line;
}

TEST(HTTPCookieTest, StorageReplacesExpiresAndAppliesThePolicy) {
  VirtualTime time;
  auto storage = HTTPCookieStorage::make();
  auto site = url("http://example.com/");
  auto cookie = [&](const char* line) { return *HTTPCookie::cookieFromSetCookieHeader(line, site); };

  // The host-only cookie and one naming its host as Domain replace each other.
  storage->setCookies({cookie("a=1"), cookie("b=2; Max-Age=10"), cookie("a=3; Domain=example.com")}, site,
                      std::nullopt);
  EXPECT_EQ(jar(storage->cookies()), "b=2; a=3");

  time.advance(11);
  EXPECT_EQ(storage->cookiesForURL(site)->size(), 1u);
  storage->setCookie(cookie("a=gone; Max-Age=0"));  // an expired replacement only deletes
  EXPECT_FALSE(storage->cookiesForURL(site));

  storage->setCookies({cookie("c=1")}, site, url("http://elsewhere.org/"));  // Always: still stored
  EXPECT_EQ(storage->cookies().size(), 1u);
  storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);
  storage->setCookies({cookie("d=1")}, site, url("http://elsewhere.org/"));
  storage->setCookies({cookie("e=1")}, site, url("http://example.com/page"));
  storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Never);
  storage->setCookie(cookie("f=1"));
  EXPECT_EQ(jar(storage->cookies()), "c=1; e=1");
}

}  // namespace
