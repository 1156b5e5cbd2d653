#include "toolkit/session_cookie_storage.h"

#include <gtest/gtest.h>

#include "support/virtual_time.h"

namespace {

HTTPCookie cookie(std::string name, std::string domain, std::string path = "/", std::optional<Date> expires = {},
                  bool secure = false) {
  HTTPCookie c;
  c.name = std::move(name);
  c.value = "v";
  c.domain = std::move(domain);
  c.path = std::move(path);
  c.expiresDate = expires;
  c.isSecure = secure;
  return c;
}

using Names = std::vector<std::string>;

Names namesOf(const std::vector<HTTPCookie>& cookies) {
  Names names;
  for (const auto& c : cookies) names.push_back(c.name);
  return names;
}

Names namesFor(ZSDK_ZTKSessionCookieStorage& store, const char* url) {
  return namesOf(store.cookiesForURL(*URL::URLWithString(url)).value_or(std::vector<HTTPCookie>{}));
}

TEST(SessionCookieStorage, DomainPathAndSecureMatching) {
  struct Row {
    const char* domain;
    const char* path;
    bool secure;
    const char* url;
    bool sent;
  };
  const Row rows[] = {
      // No leading "." means that host alone.
      {"api.example.org", "/", false, "http://api.example.org/", true},
      {"api.example.org", "/", false, "http://API.Example.org/x", true},
      {"api.example.org", "/", false, "http://evil.api.example.org/", false},
      {".Example.org", "/", false, "http://example.org/", true},
      {".example.org", "/", false, "http://a.b.example.org/", true},
      {".example.org", "/", false, "http://badexample.org/", false},
      {"example.org", "/", false, "file:///tmp/x", false},
      // Paths match at a "/" boundary, on the path as sent.
      {"h.org", "/foo", false, "http://h.org/foo", true},
      {"h.org", "/foo", false, "http://h.org/foo/bar", true},
      {"h.org", "/foo", false, "http://h.org/foobar", false},
      {"h.org", "/dir/", false, "http://h.org/dir/", true},
      {"h.org", "/dir/", false, "http://h.org/dir/x", true},
      {"h.org", "/dir/", false, "http://h.org/dir", false},
      {"h.org", "/", true, "http://h.org/", false},
      {"h.org", "/", true, "HTTPS://h.org/", true},
      // Loopback requests see the cookies of every loopback name, and only those.
      {"localhost", "/", false, "http://127.0.0.1:8080/", true},
      {"localhost.local", "/", false, "http://LOCALHOST/", true},
      {"127.0.0.1", "/", false, "http://[::1]/", true},
      {"127.0.0.1", "/a", false, "http://127.0.0.1/b", false},
      {"example.com", "/", false, "http://127.0.0.1/", false},
      {".0.0.1", "/", false, "http://127.0.0.1/", false},
  };
  for (const auto& row : rows) {
    ZSDK_ZTKSessionCookieStorage store;
    store.setCookie(cookie("c", row.domain, row.path, {}, row.secure));
    EXPECT_EQ(namesFor(store, row.url), row.sent ? Names{"c"} : Names{})
        << row.domain << " " << row.path << " " << row.url;
  }
}

TEST(SessionCookieStorage, ReplacementAndExpiry) {
  VirtualTime time;
  ZSDK_ZTKSessionCookieStorage store;
  const Date now = time.now();
  store.setCookie(cookie("a", "b.c"));
  store.setCookie(cookie("b", "b.c", "/", now.dateByAddingTimeInterval(10)));
  auto replacement = cookie("a", "b.c");
  replacement.value = "new";
  store.setCookie(replacement);
  ASSERT_EQ(store.cookies().size(), 2u);
  EXPECT_EQ(store.cookies()[1].value, "new");  // replaced cookies go to the end

  // An already expired cookie is not stored, but still removes its twin.
  store.setCookie(cookie("a", "b.c", "/", now.dateByAddingTimeInterval(-1)));
  EXPECT_EQ(store.cookies().size(), 1u);

  // Cookies that expire later drop out of lookups.
  time.advance(11);
  EXPECT_FALSE(store.cookiesForURL(*URL::URLWithString("http://b.c/")).has_value());
  EXPECT_TRUE(store.cookies().empty());

  // Nameless, domainless and pathless cookies are refused.
  store.setCookies({cookie("", "b.c"), cookie("x", ""), cookie("y", "b.c", "")});
  EXPECT_TRUE(store.cookies().empty());

  // A cookie naming its host as Domain and the host-only one are the same cookie.
  auto site = *URL::URLWithString("http://www.b.org/");
  auto parsed = [&](const char* line) { return *HTTPCookie::cookieFromSetCookieHeader(line, site); };
  store.setCookies({parsed("sid=1"), parsed("sid=2; Domain=www.b.org"), parsed("p=1")});
  store.setCookie(parsed("p=2; Domain=www.b.org"));
  store.setCookie(parsed("p=3"));
  ASSERT_EQ(store.cookies().size(), 2u);
  EXPECT_EQ(std::tuple(store.cookies()[0].name, store.cookies()[0].domain, store.cookies()[1].name,
                       store.cookies()[1].domain),
            std::tuple("sid", ".www.b.org", "p", "www.b.org"));

  store.deleteCookie(cookie("sid", "www.b.org"));
  EXPECT_EQ(namesFor(store, "http://www.b.org/"), (Names{"p"}));
  store.removeAllCookies();
  EXPECT_TRUE(store.cookies().empty());
}

TEST(SessionCookieStorage, AcceptPolicies) {
  ZSDK_ZTKSessionCookieStorage store;
  const auto url = [](const char* text) { return URL::URLWithString(text); };

  store.setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Never);
  store.setCookie(cookie("never", "b.c"));
  store.setCookies({cookie("never2", "b.c")}, url("http://b.c/"), std::nullopt);
  EXPECT_TRUE(store.cookies().empty());

  store.setCookieAcceptPolicy(HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);
  store.setCookies({cookie("same", "example.com")}, url("http://Example.com/"), url("http://example.com/"));
  store.setCookies({cookie("sub", "example.com")}, url("http://www.example.com/"), url("http://example.com/"));
  store.setCookies({cookie("lookalike", "badexample.com")}, url("http://badexample.com/"), url("http://example.com/"));
  store.setCookies({cookie("ip", "10.0.0.1")}, url("http://110.0.0.1/"), url("http://0.0.1/"));
  store.setCookies({cookie("nodoc", "other.org")}, url("http://other.org/"), std::nullopt);
  EXPECT_EQ(namesOf(store.cookies()), (Names{"same", "sub", "nodoc"}));
}

}  // namespace
