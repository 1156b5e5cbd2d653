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

std::vector<std::string> namesFor(ZSDK_ZTKSessionCookieStorage& store, const char* url) {
  std::vector<std::string> names;
  if (auto found = store.cookiesForURL(*URL::URLWithString(url))) {
    for (const auto& c : *found) names.push_back(c.name);
  }
  return names;
}

using Names = std::vector<std::string>;

TEST(SessionCookieStorage, DomainPathAndSecureMatching) {
  ZSDK_ZTKSessionCookieStorage store;
  store.setCookie(cookie("bare", "b.c"));
  store.setCookie(cookie("dotted", ".B.C"));
  store.setCookie(cookie("deep", "b.c", "/docs"));
  store.setCookie(cookie("secure", "b.c", "/", {}, true));

  EXPECT_EQ(namesFor(store, "https://b.c/"), (Names{"bare", "dotted", "secure"}));
  EXPECT_EQ(namesFor(store, "http://A.b.c/docs/x"), (Names{"bare", "dotted", "deep"}));
  // A plain suffix is not a subdomain.
  EXPECT_FALSE(store.cookiesForURL(*URL::URLWithString("https://ab.c/")).has_value());
  EXPECT_FALSE(store.cookiesForURL(*URL::URLWithString("file:///tmp/x")).has_value());
}

TEST(SessionCookieStorage, LoopbackHostsSeeOnlyLocalhostCookies) {
  ZSDK_ZTKSessionCookieStorage store;
  store.setCookie(cookie("name", "localhost"));
  store.setCookie(cookie("local", "localhost.local"));
  store.setCookie(cookie("ip", "127.0.0.1"));
  store.setCookie(cookie("remote", "example.com"));
  store.setCookie(cookie("suffix", ".0.0.1"));

  EXPECT_EQ(namesFor(store, "http://127.0.0.1:8080/"), (Names{"name", "local", "ip"}));
  EXPECT_EQ(namesFor(store, "http://LOCALHOST/"), (Names{"name", "local", "ip"}));
  EXPECT_EQ(namesFor(store, "http://[::1]/"), (Names{"name", "local", "ip"}));
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
  store.setCookie(cookie("", "b.c"));
  store.setCookie(cookie("x", ""));
  store.setCookie(cookie("y", "b.c", ""));
  EXPECT_TRUE(store.cookies().empty());

  store.setCookies({cookie("p", "b.c"), cookie("q", "b.c")});
  store.deleteCookie(cookie("p", "b.c"));
  EXPECT_EQ(namesFor(store, "http://b.c/"), (Names{"q"}));
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
  std::vector<std::string> names;
  for (const auto& c : store.cookies()) names.push_back(c.name);
  EXPECT_EQ(names, (Names{"same", "sub", "nodoc"}));
}

}  // namespace
