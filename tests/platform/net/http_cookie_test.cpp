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

TEST(HTTPCookieTest, MatchesURLByDomainPathAndScheme) {
  struct Row {
    const char* domain;
    const char* path;
    bool secure;
    const char* url;
    bool sent;
  };
  const Row rows[] = {
      // No leading "." means that host alone.
      {"api.example.org", "/", false, "http://API.Example.org/x", true},
      {"api.example.org", "/", false, "http://evil.api.example.org/", false},
      {".Example.org", "/", false, "http://example.org/", true},
      {".example.org", "/", false, "http://a.b.example.org/", true},
      {".example.org", "/", false, "http://badexample.org/", false},
      {".0.0.1", "/", false, "http://127.0.0.1/", false},
      {"example.org", "/", false, "file:///tmp/x", false},
      // Paths match at a "/" boundary, on the path as sent.
      {"h.org", "/foo", false, "http://h.org/foo", true},
      {"h.org", "/foo", false, "http://h.org/foo/bar", true},
      {"h.org", "/foo", false, "http://h.org/foobar", false},
      {"h.org", "/dir/", false, "http://h.org/dir/x", true},
      {"h.org", "/dir/", false, "http://h.org/dir", false},
      {"h.org", "/a%20b", false, "http://h.org/a%20b/c", true},
      {"h.org", "/", true, "http://h.org/", false},
      {"h.org", "/", true, "HTTPS://h.org/", true},
  };
  for (const auto& row : rows) {
    HTTPCookie cookie;
    std::tie(cookie.name, cookie.domain, cookie.path, cookie.isSecure) =
        std::tuple("c", row.domain, row.path, row.secure);
    EXPECT_EQ(cookie.matchesURL(url(row.url)), row.sent) << row.domain << " " << row.path << " " << row.url;
  }
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

  // The host-only cookie and one naming its host as Domain replace each other; the newer goes last.
  storage->setCookies({cookie("a=1"), cookie("b=2; Max-Age=10"), cookie("a=3; Domain=example.com")}, site,
                      std::nullopt);
  EXPECT_EQ(jar(storage->cookies()), "b=2; a=3");
  HTTPCookie nameless = cookie("n=1"), domainless = nameless, pathless = nameless;
  nameless.name = domainless.domain = pathless.path = "";
  storage->setCookies({nameless, domainless, pathless}, site, std::nullopt);

  time.advance(11);
  EXPECT_EQ(jar(storage->cookies()), "a=3");
  storage->setCookie(cookie("a=gone; Max-Age=0"));  // an expired replacement only deletes
  EXPECT_FALSE(storage->cookiesForURL(site));
  storage->setCookie(cookie("x=1; Domain=example.com"));
  storage->deleteCookie(cookie("x=1"));
  EXPECT_TRUE(storage->cookies().empty());

  // The main document's host or a subdomain of it; an address only itself.
  storage->setCookies({cookie("c=1")}, site, url("http://elsewhere.org/"));  // Always: still stored
  storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);
  const std::tuple<const char*, std::optional<URL>, const char*> offers[] = {
      {"d=1", url("http://elsewhere.org/"), "http://example.com/"},
      {"e=1", url("http://example.com/page"), "http://Example.com/"},
      {"f=1", url("http://example.com/"), "http://www.example.com/"},
      {"g=1", url("http://example.com/"), "http://badexample.com/"},
      {"h=1", url("http://0.0.1/"), "http://110.0.0.1/"},
      {"i=1", std::nullopt, "http://example.com/"},
  };
  for (const auto& [line, document, from] : offers) storage->setCookies({cookie(line)}, url(from), document);
  storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Never);
  storage->setCookie(cookie("j=1"));
  storage->setCookies({cookie("k=1")}, site, std::nullopt);
  EXPECT_EQ(jar(storage->cookies()), "c=1; e=1; f=1; i=1");
}

// Past a domain's count the least recently stored or sent of that domain go, not another's; past
// the jar's count expired ones go first, then the least recently used of all.
TEST(HTTPCookieTest, StorageBoundsEachCookieEachDomainAndTheWholeJar) {
  VirtualTime time;
  auto storage = HTTPCookieStorage::make();
  auto make = [](std::string name, std::string domain, std::string path = "/") {
    HTTPCookie cookie;
    std::tie(cookie.name, cookie.value, cookie.domain, cookie.path) = std::tuple(name, "1", domain, path);
    return cookie;
  };
  auto names = [&] {
    std::string out;
    for (const auto& cookie : storage->cookies()) out += cookie.name + " ";
    return out;
  };

  // Name and value together at most 4,096 bytes; a longer twin leaves the stored one alone.
  HTTPCookie large = make("n", "big.test");
  large.value.assign(4095, 'v');
  storage->setCookie(large);
  large.value += 'w';
  storage->setCookie(large);
  ASSERT_EQ(storage->cookies().size(), 1u);
  EXPECT_EQ(storage->cookies()[0].value, std::string(4095, 'v'));
  storage->deleteCookie(large);

  std::vector<HTTPCookie> batch{make("b", "b.test")};
  for (int i = 0; i < 50; ++i) batch.push_back(make("a" + std::to_string(i), "a.test", i == 0 ? "/" : "/p"));
  storage->setCookies(batch, std::nullopt, std::nullopt);
  EXPECT_TRUE(storage->cookiesForURL(url("http://a.test/")));  // sends a0 alone: now the latest used
  storage->setCookie(make("a50", ".A.test"));                  // the same domain, however written
  const std::string kept = names();
  EXPECT_EQ(storage->cookies().size(), 51u);
  EXPECT_EQ(kept.substr(0, 8), "b a0 a2 ") << "a1 went: stored before a2, sent no later";
  EXPECT_TRUE(kept.ends_with(" a49 a50 "));

  storage = HTTPCookieStorage::make();
  batch = {make("old", "old.test")};
  HTTPCookie brief = make("brief", "brief.test");
  brief.expiresDate = time.now().dateByAddingTimeInterval(10);
  for (int i = 0; i < 2998; ++i) batch.push_back(make("c" + std::to_string(i), "d" + std::to_string(i / 50) + ".test"));
  batch.push_back(brief);
  storage->setCookies(batch, std::nullopt, std::nullopt);
  EXPECT_EQ(storage->cookies().size(), 3000u);
  time.advance(11);
  storage->setCookie(make("new", "new.test"));
  EXPECT_TRUE(names().starts_with("old c0 ")) << "the expired one went first";
  storage->setCookie(make("newer", "new.test"));
  EXPECT_TRUE(names().starts_with("c0 c1 "));
  EXPECT_EQ(storage->cookies().size(), 3000u);
}

}  // namespace
