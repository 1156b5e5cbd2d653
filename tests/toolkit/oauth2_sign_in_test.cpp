#include "toolkit/oauth2_sign_in.h"

#include <gtest/gtest.h>

#include "platform/foundation/notification_center.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"
#include "toolkit/session_fetcher_constants.h"
#include "toolkit/session_fetcher_service.h"

using Auth = ZSDK_ZTKOAuth2Authentication;
using SignIn = ZSDK_ZTKOAuth2SignIn;

namespace {

// Payloads of ID tokens: the full identity, one without e-mail, and a forged one.
const std::string kIdentity = "eyJzdWIiOiI0MiIsImVtYWlsIjoiYW5uQGV4YW1wbGUub3JnIiwiZW1haWxfdmVyaWZpZWQiOnRydWV9";
const std::string kSubjectOnly = "eyJzdWIiOiI0MiJ9";
const std::string kForged = "eyJzdWIiOiJldmlsIiwiZW1haWwiOiJldmlsQGV4YW1wbGUub3JnIn0";
const std::string kRedirect = "http://127.0.0.1:4711/cb";

std::string idToken(const std::string& payload) { return "hdr." + payload + ".sig"; }

ScriptedReply tokens(const std::string& payload) {
  return {200,
          {},
          R"({"access_token":"at-1","refresh_token":"rt-1","expires_in":3600,"id_token":")" + idToken(payload) + "\"}",
          "application/json"};
}

// The delegate: what it was asked to show and how the flow ended.
struct Window {
  std::vector<std::optional<URLRequest>> shown;
  int finished = 0;
  std::optional<NSError> error;
};

// A flow against a provider on a loopback server, with a public client and a loopback redirect.
class SignInTest : public ::testing::Test {
 protected:
  SignInTest() {
    const auto origin = server.baseUrl().substr(0, server.baseUrl().size() - 1);
    SignIn::setProviderHosts({origin, origin, "zedodo.com"});
    service->allowLocalhostRequest = true;
    service->allowedInsecureSchemes = {"http"};
    signedIn = NotificationCenter::defaultCenter()->addObserverForName(
        kZTKOAuth2UserSignedIn, nullptr, nullptr, [this](const Notification&) { ++signedInNotices; });
  }
  ~SignInTest() override {
    NotificationCenter::defaultCenter()->removeObserver(signedIn);
    SignIn::setProviderHosts({});
    NetworkReachability::setStatusSource(nullptr);
    time.runUntilIdle();
  }

  std::shared_ptr<SignIn> makeFlow(const std::string& redirect = kRedirect) {
    auto auth = SignIn::standardZedodoAuthenticationForScope("openid", "client-7", "");
    auth->setRedirectURI(redirect);
    auth->setFetcherService(service);
    auto flow = SignIn::initWithAuthentication(
        auth, SignIn::zedodoAuthorizationURL(), window,
        [this](const auto&, const std::optional<URLRequest>& request) { window->shown.push_back(request); },
        [this](const auto&, const auto&, const std::optional<NSError>& error) {
          ++window->finished;
          window->error = error;
        });
    flow->setShouldFetchZedodoUserEmail(true);
    return flow;
  }
  // Lands on the redirect with `query` and waits for the end of the flow.
  void answer(const std::shared_ptr<SignIn>& flow, const std::string& query) {
    URLRequest page(*URL::URLWithString(kRedirect + "?" + query));
    ASSERT_TRUE(flow->requestRedirectedToRequest(page));
    ASSERT_TRUE(time.runUntil([&] { return window->finished > 0; }));
  }
  Auth::Form form(const RecordedRequest& request) { return *Auth::dictionaryWithResponseString(request.body); }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service = ZSDK_ZTKSessionFetcherService::create();
  std::shared_ptr<Window> window = std::make_shared<Window>();
  NotificationCenter::ObserverToken signedIn = 0;
  int signedInNotices = 0;
};

}  // namespace

TEST_F(SignInTest, AuthorizationRequestKeepsTheDefaultsAndCarriesTheHooksWithTheChallengeMethod) {
  auto flow = makeFlow();
  flow->setNetworkLossTimeoutInterval(0);
  flow->setShouldFetchZedodoUserEmail(false);
  flow->setAdditionalAuthorizationParameters(Auth::Form{{"state", "s-1"}, {"code_challenge", "ch-1"}});
  ASSERT_TRUE(flow->startSigningIn());
  ASSERT_EQ(window->shown.size(), 1u);
  EXPECT_EQ(window->shown[0]->url->absoluteString(),
            server.url("/o/oauth2/auth") +
                "?client_id=client-7&code_challenge=ch-1&code_challenge_method=S256&"
                "redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2Fcb&response_type=code&scope=openid&state=s-1");

  const auto onExisting =
      SignIn::mutableURLRequestWithURL(*URL::URLWithString("https://u:p@h.example:8443/a?x=1#f"), "client_id=c");
  EXPECT_EQ(onExisting.url->absoluteString(), "https://h.example:8443/a?x=1&client_id=c");

  flow->authentication()->setClientID("");
  EXPECT_FALSE(flow->parametersForWebRequest());
}

TEST_F(SignInTest, RedirectRecognition) {
  const struct {
    const char* name;
    std::string redirect;
    std::string page;
    bool matches;
  } cases[] = {
      {"other scheme, port and query", kRedirect, "https://127.0.0.1:9/cb?code=c", true},
      {"host in another case", "http://Example.COM/cb", "http://example.com/cb?code=c", true},
      {"other path", kRedirect, "http://127.0.0.1:4711/cb2?code=c", false},
      {"redirect without host, page with host and path", "app.example:/cb", "http://app.example/cb?code=c", false},
      {"page without host, equal", "app.example:", "app.example:", true},
      {"page without host, not equal", "app.example:", "app.example:?code=c", false},
      {"out of band", "urn:ietf:wg:oauth:2.0:oob", "urn:ietf:wg:oauth:2.0:oob", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto flow = makeFlow(c.redirect);
    EXPECT_EQ(flow->requestRedirectedToRequest(URLRequest(*URL::URLWithString(c.page))), c.matches);
    EXPECT_EQ(flow->hasHandledCallback(), c.matches);
    flow->cancelSigningIn();
  }
}

TEST_F(SignInTest, CodeExchangeTakesTheIdentityFromTheTokenEndpointsIDToken) {
  server.reply("POST", "/o/oauth2/token", tokens(kIdentity));
  auto flow = makeFlow();
  flow->authentication()->setAdditionalTokenRequestParameters(Auth::Form{{"code_verifier", "v-1"}});
  ASSERT_TRUE(flow->startSigningIn());
  answer(flow, "code=c-1&state=s-1");

  EXPECT_FALSE(window->error);
  EXPECT_FALSE(window->shown.back());  // the window was closed
  EXPECT_EQ(signedInNotices, 1);
  const auto auth = flow->authentication();
  EXPECT_EQ(auth->userID(), "42");
  EXPECT_EQ(auth->userEmail(), "ann@example.org");
  EXPECT_EQ(auth->userEmailIsVerified(), "1");
  EXPECT_EQ(auth->parameters().at("state"), Value("s-1"));  // for the caller to verify
  ASSERT_EQ(server.requestCount(), 1u);                     // no user-information request
  EXPECT_EQ(form(*server.lastRequest()), (Auth::Form{{"client_id", "client-7"},
                                                     {"code", "c-1"},
                                                     {"code_verifier", "v-1"},
                                                     {"grant_type", "authorization_code"},
                                                     {"redirect_uri", kRedirect},
                                                     {"scope", "openid " + SignIn::userInfoEmailScope()}}));
}

TEST_F(SignInTest, WithoutEMailFromTheTokenEndpointTheUserInformationIsFetched) {
  server.reply("GET", "/oauth2/v3/userinfo",
               {200, {}, R"({"sub":"42","email":"ann@example.org","email_verified":"false"})", "application/json"});
  const struct {
    const char* name;
    ScriptedReply tokenReply;
  } cases[] = {
      {"ID token without e-mail", tokens(kSubjectOnly)},
      // Only the token endpoint vouches for an identity: one in the page's answer could be forged.
      {"no ID token, a forged one in the redirect",
       {200, {}, R"({"access_token":"at-1","expires_in":3600})", "application/json"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    *window = {};
    server.clearRequests();
    server.reply("POST", "/o/oauth2/token", c.tokenReply);
    auto flow = makeFlow();
    flow->authentication()->setShouldAuthorizeAllRequests(true);  // the loopback provider speaks plain http
    answer(flow, "code=c-1&id_token=" + idToken(kForged));

    EXPECT_FALSE(window->error);
    const auto auth = flow->authentication();
    EXPECT_EQ(auth->userID(), "42");
    EXPECT_EQ(auth->userEmail(), "ann@example.org");
    EXPECT_EQ(auth->userEmailIsVerified(), "0");
    ASSERT_EQ(server.requestCount(), 2u);
    const auto info = server.requests()[1];
    EXPECT_EQ(info.path, "/oauth2/v3/userinfo");
    EXPECT_EQ(info.header("Authorization"), "Bearer at-1");
    EXPECT_EQ(info.header("Cache-Control"), "no-cache");
  }
}

TEST_F(SignInTest, EndsWithTheRightError) {
  const struct {
    const char* name;
    std::optional<std::string> query;  // nothing: the user closes the window
    ScriptedReply tokenReply;
    std::string domain;
    long code;
    std::optional<std::string> providerText;
  } cases[] = {
      {"window closed", std::nullopt, {}, kZTKOAuth2ErrorDomain, -1000, std::nullopt},
      {"answer without code", "error=access_denied", {}, kZTKOAuth2ErrorDomain, -1001, "access_denied"},
      {"code refused by the token endpoint",
       "code=c-used",
       {400, {}, R"({"error":"invalid_grant","error_description":"Code already used."})", "application/json"},
       kZTKSessionFetcherStatusDomain,
       400,
       "invalid_grant"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    *window = {};
    server.reply("POST", "/o/oauth2/token", c.tokenReply);
    auto flow = makeFlow();
    if (c.query) {
      answer(flow, *c.query);
    } else {
      flow->windowWasClosed();
    }
    EXPECT_EQ(window->finished, 1);
    ASSERT_TRUE(window->error);
    EXPECT_EQ(window->error->domain, c.domain);
    EXPECT_EQ(window->error->code, c.code);
    if (!c.providerText) {
      EXPECT_TRUE(window->error->userInfo.empty());
    } else if (c.code == -1001) {
      EXPECT_EQ(window->error->userInfo.at("error"), Value(*c.providerText));
    } else {
      EXPECT_EQ(*window->error->userInfo.at("json").find("error"), Value(*c.providerText));
    }
  }
}

TEST_F(SignInTest, OutOfBandAnswerArrivesThroughThePageTitle) {
  server.reply("POST", "/o/oauth2/token", tokens(kIdentity));
  auto flow = makeFlow(*SignIn::nativeClientRedirectURI());
  EXPECT_FALSE(flow->titleChanged("Sign in"));
  EXPECT_FALSE(flow->titleChanged("Almost state=1"));
  EXPECT_TRUE(flow->titleChanged("Success code=c-9"));
  EXPECT_TRUE(flow->titleChanged("Success code=c-10"));  // already handled: ignored
  ASSERT_TRUE(time.runUntil([&] { return window->finished > 0; }));
  EXPECT_FALSE(window->error);
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(form(*server.lastRequest()).at("code"), "c-9");
}

TEST_F(SignInTest, RevocationNamesTheClientAndAlwaysClearsTheTokens) {
  int stopped = 0;
  const auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kZTKSessionFetcherStoppedNotification, nullptr, nullptr, [&](const Notification&) { ++stopped; });
  auto auth = SignIn::standardZedodoAuthenticationForScope("openid", "client-7", "");
  auth->setFetcherService(service);
  auth->setRefreshToken("rt/1");
  auth->setAccessToken("at-1");
  SignIn::revokeTokenForZedodoAuthentication(auth);
  EXPECT_FALSE(auth->canAuthorize());
  ASSERT_TRUE(time.runUntil([&] { return stopped == 1; }));
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.lastRequest()->path, "/o/oauth2/revoke");
  EXPECT_EQ(server.lastRequest()->body, "token=rt%2F1&client_id=client-7");
  EXPECT_EQ(server.lastRequest()->header("Authorization"), std::nullopt);

  auth->setAccessToken("at-2");  // no refresh token: nothing to revoke, still signed out
  SignIn::revokeTokenForZedodoAuthentication(auth);
  EXPECT_FALSE(auth->accessToken());
  time.runUntilIdle();
  EXPECT_EQ(server.requestCount(), 1u);
  NotificationCenter::defaultCenter()->removeObserver(token);
}

TEST_F(SignInTest, NetworkLossIsAnnouncedOncePerOutageAndFoundOnlyAfterALoss) {
  NetworkReachabilityFlags status{true, false};
  NetworkReachability::setStatusSource([&](const std::string&) { return status; });
  std::vector<std::string> notices;
  std::vector<NotificationCenter::ObserverToken> tokens;
  for (const char* name : {kZTKOAuthNetworkLost, kZTKOAuthNetworkFound}) {
    tokens.push_back(NotificationCenter::defaultCenter()->addObserverForName(
        name, nullptr, nullptr, [&](const Notification& note) { notices.push_back(note.name); }));
  }
  auto flow = makeFlow();
  flow->startSigningIn();
  time.advance(1);
  status = {true, true};  // a connection would first have to be made: not reachable
  time.advance(1);        // the next look at the status starts the 30 s wait
  time.advance(29);
  EXPECT_TRUE(notices.empty());
  time.advance(1);
  time.advance(120);
  EXPECT_EQ(notices, (std::vector<std::string>{kZTKOAuthNetworkLost}));
  status = {true, false};
  time.advance(2);
  status = {false, false};  // a short outage: back before the wait ran out
  time.advance(10);
  status = {true, false};
  time.advance(60);
  EXPECT_EQ(notices, (std::vector<std::string>{kZTKOAuthNetworkLost, kZTKOAuthNetworkFound}));
  flow->cancelSigningIn();
  for (auto token : tokens) NotificationCenter::defaultCenter()->removeObserver(token);
}

TEST(OAuth2WebSafeBase64, Decoding) {
  const struct {
    std::string text;
    std::optional<std::string> bytes;
  } cases[] = {
      {"", ""},
      {"YQ", "a"},
      {"YQ==", "a"},
      {"YWI", "ab"},
      {"YWJj", "abc"},
      {"Y", ""},
      {"-_8", "\xFB\xFF"},
      {"YW*j", "a`#"},
      {"Y\xC3\xA9", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto decoded = SignIn::decodeWebSafeBase64(c.text);
    EXPECT_EQ(decoded ? std::optional<std::string>(decoded->toString()) : std::nullopt, c.bytes);
  }
}
