#include "toolkit/oauth2_sign_in_internal.h"

#include <gtest/gtest.h>

#include "fetcher_test_support.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/net/url_error.h"
#include "support/virtual_time.h"
#include "toolkit/oauth2_constants.h"
#include "toolkit/session_fetcher.h"

using Auth = ZSDK_ZTKOAuth2Authentication;
using Internal = ZSDK_ZTKOAuth2SignInInternal;
using Fetcher = ZSDK_ZTKSessionFetcher;

namespace {

HTTPCookie cookie(std::string name, bool secure, bool httpOnly) {
  HTTPCookie made;
  made.name = std::move(name);
  made.value = "c-1";
  made.domain = "accounts.zedodo.com";
  made.isSecure = secure;
  made.isHTTPOnly = httpOnly;
  return made;
}

// What the test block saw of one fetch, and how it answers.
struct Sent {
  std::string url;
  std::string authorization;
  std::string comment;
  std::string body;
};

class SignInInternalTest : public ::testing::Test {
 protected:
  SignInInternalTest() {
    Fetcher::setGlobalTestBlock([this](const std::shared_ptr<Fetcher>& fetcher, const Fetcher::TestResponse& respond) {
      const auto request = fetcher->mutableRequest();
      sent.push_back({request->url->absoluteString(), request->valueForHTTPHeaderField("Authorization").value_or(""),
                      fetcher->comment().value_or(""),
                      request->httpBody ? request->httpBody->toString() : std::string()});
      if (failure) return respond(nullptr, std::nullopt, failure);
      respond(httpResponse("https://accounts.example/", 200, {{"Content-Type", contentType}}), Data::fromString(answer),
              std::nullopt);
    });
  }
  ~SignInInternalTest() override {
    Fetcher::setGlobalTestBlock(nullptr);
    Internal::setAccountsHost(std::nullopt);
    Internal::setAuthorizationHost(std::nullopt);
    Internal::setUserInfoHost(std::nullopt);
    time.runUntilIdle();
  }

  // A signed-in authorization whose token needs no refresh.
  static std::shared_ptr<Auth> signedIn() {
    auto auth = Internal::standardZedodoAuthenticationForScope("openid", "client-7", std::nullopt);
    auth->setAccessToken("at-1");
    return auth;
  }

  VirtualTime time;
  std::vector<Sent> sent;
  std::string answer;
  std::string contentType = "text/plain";
  std::optional<NSError> failure;
};

}  // namespace

TEST_F(SignInInternalTest, EachHostMovesOnlyItsOwnEndpoints) {
  const auto urls = [] {
    return std::vector<std::string>{
        Internal::zedodoAuthorizationURL().absoluteString(), Internal::zedodoTokenURL().absoluteString(),
        Internal::zedodoRevocationURL().absoluteString(), Internal::zedodoUserInfoURL().absoluteString(),
        Internal::clientLoginURL(std::nullopt, "s", false)->absoluteString()};
  };
  EXPECT_EQ(urls(),
            (std::vector<std::string>{
                "https://accounts.zedodo.com/o/oauth2/programmatic_auth", "https://accounts.zedodo.com/o/oauth2/token",
                "https://accounts.zedodo.com/o/oauth2/revoke", "https://api.zedodo.com/oauth2/v3/userinfo",
                "https://accounts.zedodo.com/accounts/OAuthLogin?source=s"}));
  Internal::setAuthorizationHost("auth.example");
  Internal::setUserInfoHost("info.example:8443");
  EXPECT_EQ(urls(), (std::vector<std::string>{
                        "https://auth.example/o/oauth2/programmatic_auth", "https://auth.example/o/oauth2/token",
                        "https://auth.example/o/oauth2/revoke", "https://info.example:8443/oauth2/v3/userinfo",
                        "https://accounts.zedodo.com/accounts/OAuthLogin?source=s"}));
  Internal::setAccountsHost("acc.example");
  EXPECT_EQ(urls()[0], "https://auth.example/o/oauth2/programmatic_auth");
  EXPECT_EQ(urls()[4], "https://acc.example/accounts/OAuthLogin?source=s");
  EXPECT_EQ(Internal::standardZedodoAuthenticationForScope("x", "c", std::nullopt)->tokenURL()->absoluteString(),
            "https://auth.example/o/oauth2/token");
  Internal::setAuthorizationHost(std::nullopt);
  EXPECT_EQ(urls()[1], "https://accounts.zedodo.com/o/oauth2/token");
}

TEST_F(SignInInternalTest, AuthorizationPageAsksWithoutRedirectAndAddsTheLoginScopeOnce) {
  const std::string login = Internal::loginScope();
  const struct {
    bool useLoginScope;
    std::string scope;
    std::string expected;
  } cases[] = {
      {false, "openid", "openid"},
      {true, "openid", "openid " + login},
      {true, "openid " + login, "openid " + login},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto auth = Internal::standardZedodoAuthenticationForScope(c.scope, "client-7", std::nullopt);
    EXPECT_FALSE(auth->redirectURI());
    std::vector<std::optional<URLRequest>> shown;
    auto flow = Internal::initWithAuthentication(
        auth, Internal::zedodoAuthorizationURL(), std::make_shared<int>(0),
        [&](const auto&, const std::optional<URLRequest>& request) { shown.push_back(request); }, nullptr);
    flow->setNetworkLossTimeoutInterval(0);
    flow->setShouldFetchZedodoUserEmail(false);
    flow->setShouldUseLoginScope(c.useLoginScope);
    flow->setAuthorizationEmail("ann@example.org");
    flow->setAuthorizationTemplate("tm");
    ASSERT_TRUE(flow->startSigningIn());
    EXPECT_EQ(auth->scope(), c.expected);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(
        shown[0]->url->absoluteString(),
        "https://accounts.zedodo.com/o/oauth2/programmatic_auth?" +
            Auth::encodedQueryParametersForDictionary(
                {{"client_id", "client-7"}, {"email", "ann@example.org"}, {"scope", c.expected}, {"tmpl", "tm"}}));
    EXPECT_FALSE(flow->titleChanged("Success code=c-1"));
    flow->cancelSigningIn();
  }
}

TEST_F(SignInInternalTest, TheCodeComesOnlyFromASecureHTTPOnlyCookieWhichIsThenDeleted) {
  answer = R"({"access_token":"at-2","refresh_token":"rt-2","expires_in":3600})";
  contentType = "application/json";
  const struct {
    bool secure;
    bool httpOnly;
    bool taken;
  } cases[] = {{true, true, true}, {false, true, false}, {true, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.secure) + std::to_string(c.httpOnly));
    sent.clear();
    auto storage = HTTPCookieStorage::make();
    storage->setCookie(cookie("other", true, false));
    storage->setCookie(cookie("oauth_code", c.secure, c.httpOnly));
    int finished = 0;
    std::optional<NSError> error;
    auto auth = Internal::standardZedodoAuthenticationForScope("openid", "client-7", std::nullopt);
    auto flow = Internal::initWithAuthentication(auth, Internal::zedodoAuthorizationURL(), std::make_shared<int>(0),
                                                 nullptr, [&](const auto&, const auto&, const auto& e) {
                                                   ++finished;
                                                   error = e;
                                                 });
    flow->setNetworkLossTimeoutInterval(0);
    flow->setShouldFetchZedodoUserEmail(false);
    EXPECT_EQ(flow->cookiesChanged(storage), c.taken);
    EXPECT_EQ(storage->cookies().size(), c.taken ? 1u : 2u);
    if (!c.taken) {
      EXPECT_FALSE(flow->hasHandledCallback());
      flow->cancelSigningIn();
      continue;
    }
    ASSERT_TRUE(time.runUntil([&] { return finished == 1; }));
    EXPECT_FALSE(error) << error->description();
    EXPECT_EQ(auth->accessToken(), "at-2");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].url, "https://accounts.zedodo.com/o/oauth2/token");
    EXPECT_EQ(Auth::dictionaryWithResponseString(sent[0].body)->at("code"), "c-1");
  }
}

TEST(SignInInternalParsing, LoginValuesAreKeyValueLinesOfAnyEnding) {
  using Values = Internal::LoginValues;
  const struct {
    std::optional<std::string> text;
    std::optional<Values> values;
  } cases[] = {
      {"SID=s-1\nLSID=l-1\nAuth=a-1", Values{{"SID", "s-1"}, {"LSID", "l-1"}, {"Auth", "a-1"}}},
      {"SID=s-1\r\nempty=\r\n  LSID=  l=1 \rnothing\n=v\nSID=s-2", Values{{"SID", "s-2"}, {"LSID", "l=1 "}}},
      {"", Values{}},
      {std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.value_or("(none)"));
    EXPECT_EQ(Internal::dictionaryWithClientLoginResponseString(c.text), c.values);
  }
}

TEST_F(SignInInternalTest, AccountTokenURLsEncodeEveryValueTheyCarry) {
  Internal::setAccountsHost("acc.example");
  EXPECT_EQ(Internal::tokenAuthURLWithAuthToken("tok-1", std::nullopt, "src", "https://x.example/p?a=1&b=2")
                ->absoluteString(),
            "https://acc.example/accounts/TokenAuth?sarp=1&source=src&auth=tok-1&continue="
            "https%3A%2F%2Fx.example%2Fp%3Fa%3D1%26b%3D2");
  EXPECT_EQ(Internal::tokenAuthURLWithAuthToken("t&k#1", "mail", "s+1", "c")->absoluteString(),
            "https://acc.example/accounts/TokenAuth?sarp=1&source=s%2B1&auth=t%26k%231&continue=c&service=mail");
  EXPECT_EQ(Internal::tokenAuthURLWithAuthToken("t", "", std::nullopt, "c")->absoluteString(),
            "https://acc.example/accounts/TokenAuth?sarp=1&source=ztk-oauth2i&auth=t&continue=c");
  EXPECT_EQ(Internal::issueAuthTokenURL({{"SID", "a&b"}, {"LSID", "c#d"}}, std::nullopt)->absoluteString(),
            "https://acc.example/accounts/IssueAuthToken?service=zaia&SID=a%26b&LSID=c%23d");
  EXPECT_EQ(Internal::clientLoginURL("mail&x=1", std::nullopt, true)->absoluteString(),
            "https://acc.example/accounts/OAuthLogin?source=ztk-oauth2i&service=mail%26x%3D1&issueuberauth=1");
}

TEST_F(SignInInternalTest, AccountTokenFetchesSignOnlyTheLoginRequestAndReportEmptyTokens) {
  Internal::setAccountsHost("acc.example");
  std::optional<Internal::LoginValues> values;
  answer = "SID=s-1\nLSID=l-1\n";
  Internal::fetchClientLoginValuesWithAuth(signedIn(), "mail", "src",
                                           [&](auto result, auto) { values = std::move(result); });
  ASSERT_TRUE(time.runUntil([&] { return values.has_value(); }));
  EXPECT_EQ(*values, (Internal::LoginValues{{"SID", "s-1"}, {"LSID", "l-1"}}));

  std::vector<std::pair<std::optional<std::string>, long>> tokens;
  const auto record = [&](std::optional<std::string> token, std::optional<NSError> error) {
    EXPECT_TRUE(!error || error->domain == kZTKOAuth2ErrorDomain);
    tokens.emplace_back(std::move(token), error ? error->code : 0);
  };
  answer = " ub-1\r\n";
  Internal::fetchUberAuthTokenWithAuth(signedIn(), std::nullopt, "src", record);
  answer = "iat-1\n";
  Internal::fetchAuthTokenWithValues(*values, "svc", true, record);
  answer = " \n";
  Internal::fetchAuthTokenWithValues(*values, std::nullopt, false, record);
  ASSERT_TRUE(time.runUntil([&] { return tokens.size() == 3; }));
  EXPECT_EQ(tokens,
            (std::vector<std::pair<std::optional<std::string>, long>>{{"ub-1", 0}, {"iat-1", 0}, {std::nullopt, -1}}));

  ASSERT_EQ(sent.size(), 4u);
  const std::vector<std::string> expected[] = {
      {"https://acc.example/accounts/OAuthLogin?source=src&service=mail", "Bearer at-1", "OAuthLogin"},
      {"https://acc.example/accounts/OAuthLogin?source=src&issueuberauth=1", "Bearer at-1", "OAuthLogin"},
      {"https://acc.example/accounts/IssueAuthToken?service=svc&SID=s-1&LSID=l-1", "", "IssueAuthToken"},
      {"https://acc.example/accounts/IssueAuthToken?service=zaia&SID=s-1&LSID=l-1", "", "IssueAuthToken"},
  };
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ((std::vector<std::string>{sent[i].url, sent[i].authorization, sent[i].comment}), expected[i]) << i;
  }

  // A failed fetch passes its error on, through the token-authentication URL too.
  failure = NSError(NSURLErrorDomain, NSURLErrorNetworkConnectionLost);
  std::optional<NSError> lost;
  Internal::fetchTokenAuthURLWithAuth(signedIn(), "svc", "src", "https://x.example/", [&](auto url, auto error) {
    EXPECT_FALSE(url);
    lost = error;
  });
  ASSERT_TRUE(time.runUntil([&] { return lost.has_value(); }));
  EXPECT_EQ(lost->code, NSURLErrorNetworkConnectionLost);
}
