#include "toolkit/session_cookie_storage.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

HTTPCookie cookie(std::string name, std::string domain, std::string path = "/") {
  HTTPCookie c;
  std::tie(c.name, c.value, c.domain, c.path) = std::tuple(std::move(name), "v", std::move(domain), std::move(path));
  return c;
}

bool sent(ZSDK_ZTKSessionCookieStorage& store, const char* url) {
  return store.cookiesForURL(*URL::URLWithString(url)).has_value();
}

TEST(SessionCookieStorage, LoopbackRequestsSeeTheCookiesOfEveryLoopbackName) {
  struct Row {
    const char* domain;
    const char* path;
    const char* url;
    bool sent;
  };
  const Row rows[] = {
      {"localhost", "/", "http://127.0.0.1:8080/", true},
      {"localhost.local", "/", "http://LOCALHOST/", true},
      {"127.0.0.1", "/", "http://[::1]/", true},
      {"127.0.0.1", "/a", "http://127.0.0.1/b", false},
      {"example.com", "/", "http://127.0.0.1/", false},
      {".0.0.1", "/", "http://127.0.0.1/", false},
      // Other hosts follow the platform's rules.
      {"localhost", "/", "http://api.example.org/", false},
      {".example.org", "/", "http://api.example.org/", true},
  };
  for (const auto& row : rows) {
    ZSDK_ZTKSessionCookieStorage store;
    store.setCookie(cookie("c", row.domain, row.path));
    EXPECT_EQ(sent(store, row.url), row.sent) << row.domain << " " << row.path << " " << row.url;
  }
}

TEST(SessionCookieStorage, TakesCookiesFromAnywhereUnlessNeverAndEmptiesAtOnce) {
  ZSDK_ZTKSessionCookieStorage store;
  store.setCookieAcceptPolicy(HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);
  store.setCookies({cookie("a", "b.c"), cookie("b", "d.e")});
  EXPECT_EQ(store.cookies().size(), 2u);
  store.removeAllCookies();
  EXPECT_TRUE(store.cookies().empty());
  store.setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Never);
  store.setCookies({cookie("a", "b.c")});
  EXPECT_TRUE(store.cookies().empty());
}

}  // namespace
