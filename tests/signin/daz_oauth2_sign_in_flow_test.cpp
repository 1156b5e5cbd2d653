#include "signin/daz_oauth2_sign_in_flow.h"

#include <gtest/gtest.h>

#include "platform/net/url_session.h"

#include <map>
#include <sstream>

#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/url_contents.h"
#include "signin/daz_oauth2_support.h"
#include "signin/daz_sign_in.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"
#include "toolkit/oauth2_keychain.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"

using Auth = ZSDK_ZTKOAuth2Authentication;
using KeychainAuth = ZSDK_ZTKOAuth2KeychainAuth;

namespace {

using Params = std::map<std::string, std::string>;

ScriptedReply json(std::string body, int status = 200) { return {status, {}, std::move(body), "application/json"}; }

ScriptedReply grant(const std::string& access, const std::string& refresh, int lifetime = 3600) {
  return json(R"({"access_token":")" + access + R"(","refresh_token":")" + refresh + R"(","expires_in":)" +
              std::to_string(lifetime) + "}");
}

const char* const kUserInfo =
    R"({"sub":"42","email":"ann@example.org","email_verified":true,"name":"Ann Lee","given_name":"Ann",)"
    R"("family_name":"Lee","picture":"https://lh3.images.zedodo.com/a-/AOh14=s96-c"})";

Params paramsOf(const URL& url) {
  Params params;
  for (const auto& item : url.queryItems()) params[item.name] = item.value.value_or("");
  return params;
}

struct Outcomes : DAZSignInDelegate {
  void signIn(const std::shared_ptr<DAZSignIn>&, const std::shared_ptr<DAZZedodoUser>& user,
              const std::optional<NSError>& error) override {
    users.push_back(user);
    errors.push_back(error);
  }
  std::vector<std::shared_ptr<DAZZedodoUser>> users;
  std::vector<std::optional<NSError>> errors;
};

// The component with its own flow against a provider on a loopback server; the test is the browser.
class OAuth2FlowTest : public ::testing::Test {
 protected:
  OAuth2FlowTest() {
    KeychainStore::setCurrent(std::make_shared<MemoryKeychainStore>());
    const auto origin = provider.baseUrl().substr(0, provider.baseUrl().size() - 1);
    ZSDK_ZTKOAuth2SignIn::setProviderHosts({origin, origin, "zedodo.com"});
    provider.reply("GET", "/oauth2/v3/userinfo", json(kUserInfo));
    start();
  }
  ~OAuth2FlowTest() override {
    // A fetch still on its way (a sign-out's revocation) holds its session until its answer.
    time.runUntil([] { return URLSession::transfersInFlight() == 0; }, 10);
    time.runUntilIdle();
    ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
    KeychainStore::setCurrent(nullptr);
  }

  // A new start of the program: a new component over the same keychain.
  void start() {
    signIn = std::make_shared<DAZSignIn>();
    signIn->setFlow(std::make_shared<DAZOAuth2SignInFlow>([] { return std::string("client-7"); },
                                                          [this](const URL& page) {
                                                            opened.push_back(page);
                                                            return true;
                                                          },
                                                          30));
    signIn->setDelegate(outcomes);
  }
  // Signs in through the browser, which comes back with `answer` (its state replaced by the one
  // sent when it is "STATE"); the authorization request's parameters.
  Params browse(const std::function<std::string(const Params&)>& answer) {
    const auto before = outcomes->errors.size();
    const auto pages = opened.size();
    signIn->signIn();
    EXPECT_TRUE(time.runUntil([&] { return opened.size() > pages; }));
    const Params sent = paramsOf(opened.back());
    const auto page = dataWithContentsOfURL(*URL::URLWithString(sent.at("redirect_uri") + "?" + answer(sent)), 10);
    EXPECT_TRUE(page);
    lastPage = page ? page->toString() : "";
    EXPECT_TRUE(time.runUntil([&] { return outcomes->errors.size() > before; }, 10));
    return sent;
  }
  std::vector<Auth::Form> formsTo(const std::string& path) {
    std::vector<Auth::Form> forms;
    for (const auto& request : provider.requests())
      if (request.path == path) forms.push_back(*Auth::dictionaryWithResponseString(request.body));
    return forms;
  }
  std::optional<std::string> storedRefreshToken() {
    return KeychainAuth::authForZedodoFromKeychainForName(daz_oauth2::kKeychainItemName, "client-7", std::nullopt)
        ->refreshToken();
  }
  std::string lastError() {
    const auto& error = outcomes->errors.back();
    return error ? error->domain + " " + std::to_string(error->code) + " " + error->localizedDescription() : "ok";
  }

  VirtualTime time;
  FakeBackend provider;
  std::shared_ptr<DAZSignIn> signIn;
  std::shared_ptr<Outcomes> outcomes = std::make_shared<Outcomes>();
  std::vector<URL> opened;
  // What the browser showed on coming back.
  std::string lastPage;
};

}  // namespace

TEST_F(OAuth2FlowTest, BrowserSignInWithStateAndPKCEIsRestoredSilentlyOnTheNextStartAndSignOutRevokesIt) {
  provider.replies("POST", "/o/oauth2/token", {grant("at-1", "rt-1"), grant("at-2", "rt-2")});
  const Params sent = browse([](const Params& p) { return "code=c-1&state=" + p.at("state"); });
  ASSERT_EQ(lastError(), "ok");
  EXPECT_EQ(std::tuple(sent.at("response_type"), sent.at("client_id"), sent.at("code_challenge_method")),
            std::tuple("code", "client-7", "S256"));
  EXPECT_TRUE(sent.at("redirect_uri").starts_with("http://127.0.0.1:") && sent.at("state").size() >= 16);
  EXPECT_NE(sent.at("scope").find("/auth/userinfo.profile"), std::string::npos);

  // The code goes back with the verifier of the challenge and the very redirect address; a public
  // client sends no secret.
  auto exchange = formsTo("/o/oauth2/token").at(0);
  EXPECT_EQ(std::tuple(exchange["grant_type"], exchange["code"], exchange["redirect_uri"], exchange["client_id"]),
            std::tuple("authorization_code", "c-1", sent.at("redirect_uri"), "client-7"));
  EXPECT_EQ(daz_oauth2::codeChallengeS256(exchange["code_verifier"]), sent.at("code_challenge"));
  EXPECT_FALSE(exchange.count("client_secret"));

  auto user = signIn->currentUser();
  ASSERT_TRUE(user && user->profile());
  EXPECT_EQ(std::tuple(user->userID(), user->authentication()->accessToken(), user->profile()->name(),
                       user->profile()->email()),
            std::tuple("42", "at-1", "Ann Lee", "ann@example.org"));
  EXPECT_EQ(user->profile()->imageURLWithDimension(300)->absoluteString(),
            "https://lh3.images.zedodo.com/a-/AOh14=s300");

  // The next start refreshes once and keeps the rotated refresh token.
  start();
  ASSERT_TRUE(signIn->hasAuthInKeychain());
  signIn->signInSilently();
  ASSERT_TRUE(time.runUntil([&] { return outcomes->errors.size() == 2; }, 10));
  ASSERT_EQ(lastError(), "ok");
  auto refresh = formsTo("/o/oauth2/token").at(1);
  EXPECT_EQ(std::tuple(refresh["grant_type"], refresh["refresh_token"], refresh["client_id"]),
            std::tuple("refresh_token", "rt-1", "client-7"));
  EXPECT_EQ(signIn->currentUser()->profile()->name(), "Ann Lee");
  EXPECT_EQ(storedRefreshToken(), "rt-2");

  // Sign-out revokes the grant, naming the client, and forgets everything stored.
  signIn->signOut();
  EXPECT_FALSE(signIn->hasAuthInKeychain() || daz_oauth2::storedProfile());
  ASSERT_TRUE(time.runUntil([&] { return formsTo("/o/oauth2/revoke").size() == 1; }, 10));
  EXPECT_EQ(formsTo("/o/oauth2/revoke")[0], (Auth::Form{{"token", "rt-2"}, {"client_id", "client-7"}}));
}

TEST_F(OAuth2FlowTest, AnswersThatDoNotCompleteTheSignInAreRefused) {
  const struct {
    const char* name;
    std::function<std::string(const Params&)> answer;
    ScriptedReply token;
    std::string error;
    std::string page;  // what the browser shows
  } cases[] = {
      {"forged state", [](const Params&) { return std::string("code=c-1&state=forged"); }, grant("at", "rt"),
       "com.zedodo.DAZSignIn -1 The Zedodo sign-in answer does not match the request.",
       "This answer does not belong to the sign-in the application started, so it was not used."},
      {"no code", [](const Params& p) { return "state=" + p.at("state"); }, grant("at", "rt"),
       "com.zedodo.ZTKOAuth2 -1001 Zedodo sign-in failed.",
       "The sign-in did not complete: the answer holds no authorization."},
      {"refused by the user", [](const Params& p) { return "error=access_denied&state=" + p.at("state"); },
       grant("at", "rt"), "com.zedodo.ZTKOAuth2 -1001 Zedodo sign-in failed: access_denied",
       "The sign-in did not complete: access_denied"},
      {"refused, in the provider's words",
       [](const Params& p) {
         return "error=access_denied&error_description=The%20user%20said%20%3Cno%3E.&state=" + p.at("state");
       },
       grant("at", "rt"), "com.zedodo.ZTKOAuth2 -1001 Zedodo sign-in failed: The user said <no>.",
       "The sign-in did not complete: The user said &lt;no&gt;."},
      {"empty access token", [](const Params& p) { return "code=c-1&state=" + p.at("state"); },
       json(R"({"access_token":"","refresh_token":"rt","expires_in":3600})"),
       "com.zedodo.ZTKOAuth2 -1001 Zedodo sign-in failed: no access token in the provider's answer",
       "The provider answered. Go back to the application to finish signing in."},
      {"code refused by the token endpoint", [](const Params& p) { return "code=c-1&state=" + p.at("state"); },
       json(R"({"error":"invalid_grant","error_description":"Wrong code verifier."})", 400),
       "com.zedodo.HTTPStatus 400 Zedodo sign-in failed: Wrong code verifier.",
       "The provider answered. Go back to the application to finish signing in."},
  };
  for (const auto& c : cases) {
    provider.reply("POST", "/o/oauth2/token", c.token);
    provider.clearRequests();
    browse(c.answer);
    EXPECT_EQ(lastError(), c.error) << c.name;
    EXPECT_FALSE(outcomes->users.back() || signIn->hasAuthInKeychain()) << c.name;
    EXPECT_NE(lastPage.find("<p>" + c.page), std::string::npos) << c.name << ": " << lastPage;
  }
  EXPECT_TRUE(formsTo("/o/oauth2/token").size() == 1 && formsTo("/o/oauth2/token")[0].count("code_verifier"));

  // A sign-in left waiting in the browser can be given up; its late answer is not taken.
  signIn->signIn();
  ASSERT_TRUE(time.runUntil([&] { return opened.size() == std::size(cases) + 1; }));
  EXPECT_EQ(BrowserSignIns::cancelAll(), 1u);
  ASSERT_TRUE(time.runUntil([&] { return outcomes->errors.size() == std::size(cases) + 1; }));
  EXPECT_EQ(outcomes->errors.back()->code, -5);
  EXPECT_FALSE(signIn->handleURL(*URL::URLWithString(paramsOf(opened.back()).at("redirect_uri") +
                                                     "?code=c&state=" + paramsOf(opened.back()).at("state")),
                                 std::nullopt, std::nullopt));

  // Given up for another provider's sign-in, by name: an answer that still reaches its page is
  // not redeemed, the page says so, and nothing is kept.
  signIn->signIn();
  ASSERT_TRUE(time.runUntil([&] { return opened.size() == std::size(cases) + 2; }));
  std::ostringstream said;
  EXPECT_EQ(BrowserSignIns::giveUp(said, "Facebook"), std::vector<std::string>{"Zedodo"});
  EXPECT_EQ(said.str(), "The Zedodo sign-in that waited in the browser was given up.\n");
  const Params sent = paramsOf(opened.back());
  const auto late =
      dataWithContentsOfURL(*URL::URLWithString(sent.at("redirect_uri") + "?code=c&state=" + sent.at("state")), 10);
  ASSERT_TRUE(late);
  EXPECT_NE(late->toString().find("no longer waits for this sign-in"), std::string::npos) << late->toString();
  ASSERT_TRUE(time.runUntil([&] { return outcomes->errors.size() == std::size(cases) + 2; }));
  time.runUntilIdle();
  EXPECT_EQ(outcomes->errors.size(), std::size(cases) + 2);
  EXPECT_EQ(outcomes->errors.back()->code, -5);
  EXPECT_EQ(formsTo("/o/oauth2/token").size(), 1u) << "the late answer was redeemed";
  EXPECT_FALSE(signIn->hasAuthInKeychain());

  // Given up while its answer is redeemed (another road signed in meanwhile): the token the
  // provider gives afterwards signs nobody in and is not kept.
  ScriptedReply slow = grant("at-late", "rt-late");
  slow.delay = 30;
  provider.reply("POST", "/o/oauth2/token", slow);
  signIn->signIn();
  ASSERT_TRUE(time.runUntil([&] { return opened.size() == std::size(cases) + 3; }));
  const Params redeemed = paramsOf(opened.back());
  ASSERT_TRUE(dataWithContentsOfURL(
      *URL::URLWithString(redeemed.at("redirect_uri") + "?code=c&state=" + redeemed.at("state")), 10));
  ASSERT_TRUE(time.runUntil([&] { return formsTo("/o/oauth2/token").size() == 2; }, 10));
  EXPECT_EQ(BrowserSignIns::giveUp(said, "Facebook"), std::vector<std::string>{"Zedodo"});
  ASSERT_TRUE(time.runUntil([&] { return outcomes->errors.size() == std::size(cases) + 3; }, 10));
  EXPECT_EQ(outcomes->errors.back()->code, -5);
  EXPECT_FALSE(outcomes->users.back() || signIn->hasAuthInKeychain());
}

TEST_F(OAuth2FlowTest, ARefusedGrantOnSilentSignInSignsOutAfterOneAttempt) {
  auto saved = ZSDK_ZTKOAuth2SignIn::standardZedodoAuthenticationForScope("openid", "client-7", std::nullopt);
  saved->setRefreshToken("rt-old");
  saved->setUserID("42");
  ASSERT_TRUE(KeychainAuth::saveParamsToKeychainForName(daz_oauth2::kKeychainItemName, saved));
  provider.reply("POST", "/o/oauth2/token",
                 json(R"({"error":"invalid_grant","error_description":"Token has been revoked."})", 400));

  signIn->signInSilently();
  ASSERT_TRUE(time.runUntil([&] { return outcomes->errors.size() == 1; }, 10));
  EXPECT_EQ(lastError(),
            "com.zedodo.HTTPStatus 400 The previous Zedodo sign-in could not be restored: Token has been revoked.");
  EXPECT_FALSE(signIn->hasAuthInKeychain() || signIn->currentUser());

  signIn->signInSilently();
  ASSERT_TRUE(time.runUntil([&] { return outcomes->errors.size() == 2; }, 10));
  EXPECT_EQ(outcomes->errors.back()->code, -4);
  EXPECT_EQ(formsTo("/o/oauth2/token").size(), 1u);
}

TEST_F(OAuth2FlowTest, ConcurrentTokenRequestsShareOneRefreshWhoseRotatedTokenIsSaved) {
  provider.replies("POST", "/o/oauth2/token", {grant("at-1", "rt-1"), grant("at-2", "rt-2", 30)});
  browse([](const Params& p) { return "code=c-1&state=" + p.at("state"); });
  auto authentication = signIn->currentUser()->authentication();
  time.advance(3600 - 59);
  std::vector<std::optional<std::string>> tokens;
  for (int i = 0; i < 3; ++i)
    authentication->getAccessTokenWithHandler(
        [&](std::optional<std::string> token, std::optional<NSError>) { tokens.push_back(token); });
  ASSERT_TRUE(time.runUntil([&] { return tokens.size() == 3; }, 10));
  EXPECT_EQ(tokens, (std::vector<std::optional<std::string>>(3, "at-2")));
  EXPECT_EQ(formsTo("/o/oauth2/token").size(), 2u);
  EXPECT_EQ(std::tuple(authentication->refreshToken(), storedRefreshToken()), std::tuple("rt-2", "rt-2"));

  // After a sign-out a late rotation brings nothing back.
  provider.reply("POST", "/o/oauth2/token", grant("at-3", "rt-3", 30));
  authentication->getAccessTokenWithHandler(
      [&](std::optional<std::string> token, std::optional<NSError>) { tokens.push_back(token); });
  signIn->signOut();
  ASSERT_TRUE(time.runUntil([&] { return tokens.size() == 4; }, 10));
  EXPECT_FALSE(signIn->hasAuthInKeychain());
}

TEST(DAZOAuth2SupportTest, ChallengeAndProviderAddress) {
  // SHA-256 in web-safe Base64 without padding.
  EXPECT_EQ(daz_oauth2::codeChallengeS256("a verifier of forty-three characters, about"),
            "hkslfyqySfWK1-neagMsW_NGSsTN4bdIzBltJJ4p5Ig");
  EXPECT_EQ(daz_oauth2::randomWebSafeText(32).size(), 43u);

  const struct {
    const char* value;
    bool accepted;
    std::string accounts;
  } cases[] = {
      {nullptr, true, "https://accounts.zedodo.com"},
      {"http://127.0.0.1:8080/zedodo/", true, "http://127.0.0.1:8080/zedodo"},
      {"ftp://127.0.0.1/", false, "https://accounts.zedodo.com"},
  };
  for (const auto& c : cases) {
    ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
    auto env = [&](const char* name) {
      return std::string(name) == DAZOAuth2SignInFlow::kProviderURLVariable ? c.value : nullptr;
    };
    EXPECT_EQ(DAZOAuth2SignInFlow::configureProviderFromEnvironment(env), c.accepted);
    const auto hosts = ZSDK_ZTKOAuth2SignIn::providerHosts();
    EXPECT_EQ(hosts.accountsOrigin, c.accounts);
    EXPECT_EQ(hosts.apiOrigin == hosts.accountsOrigin, c.value && c.accepted);
  }
  ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
}
