// Set-Cookie lines from arbitrary bytes, one per line, as answers of a few URLs, stored in both
// cookie jars: nothing may crash, a jar keeps one cookie per name, domain and path, and every
// cookie the platform jar offers for a URL matches that URL (in both jars a host-only cookie goes
// to its exact host only).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/http_cookie.h"
#include "platform/net/http_cookie_storage.h"
#include "toolkit/session_cookie_storage.h"

namespace {

const std::vector<URL>& urls() {
  static const std::vector<URL> all = [] {
    std::vector<URL> list;
    for (const char* text :
         {"https://www.site.test/account/login", "http://site.test/", "https://api.site.test:8443/v1/items?x=1",
          "http://127.0.0.1/a/b", "https://other.test/account"}) {
      list.push_back(*URL::URLWithString(text));
    }
    return list;
  }();
  return all;
}

void checkJar(HTTPCookieStorage& jar, bool offersOnlyMatching) {
  const std::vector<HTTPCookie> stored = jar.cookies();
  for (std::size_t i = 0; i < stored.size(); ++i) {
    for (std::size_t j = i + 1; j < stored.size(); ++j) {
      if (stored[i].isSameCookie(stored[j])) std::abort();
    }
  }
  for (const URL& url : urls()) {
    const auto offered = jar.cookiesForURL(url);
    if (!offered) continue;
    for (const HTTPCookie& cookie : *offered) {
      if (offersOnlyMatching && !cookie.matchesURL(url)) std::abort();
    }
    (void)HTTPCookie::requestHeaderFieldsWithCookies(*offered);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }

  auto jar = HTTPCookieStorage::make();
  auto sessionJar = std::make_shared<ZSDK_ZTKSessionCookieStorage>();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const URL& url = urls()[i % urls().size()];
    std::vector<HTTPCookie> cookies;
    if (auto cookie = HTTPCookie::cookieFromSetCookieHeader(lines[i], url)) {
      if (auto copy = HTTPCookie::cookieWithProperties(cookie->properties())) {
        (void)copy->matchesURL(url);
      }
      cookies.push_back(*cookie);
    }
    jar->setCookies(cookies, url, std::nullopt);
    sessionJar->setCookies(cookies, url, urls().front());
  }
  HTTPHeaderFields fields;
  for (std::string_view line : lines) fields.addValue(line, "Set-Cookie");
  for (const URL& url : urls()) {
    jar->setCookies(HTTPCookie::cookiesWithResponseHeaderFields(fields, url), url, std::nullopt);
  }

  checkJar(*jar, true);
  checkJar(*sessionJar, false);
  return 0;
}
