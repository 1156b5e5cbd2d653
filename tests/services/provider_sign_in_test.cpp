#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/localized_format.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/net/url_session.h"
#include "platform/ui/url_contents.h"
#include "services/lecture_service.h"
#include "services/news_service.h"
#include "services/profile_service.h"
#include "signin/daz_oauth2_sign_in_flow.h"
#include "signin/daz_oauth2_support.h"
#include "support/refusing_keychain_store.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"

namespace {

class ProviderSignInTest : public BackendFixture {
 protected:
  void SetUp() override {
    BackendFixture::SetUp();
    DAZSignIn::sharedInstance()->setDelegate(manager());
  }
  void answerFacebookLogin(const std::string& token) {
    auto accessToken = std::make_shared<FBSDKAccessToken>(token, std::set<std::string>{"email"},
                                                          std::set<std::string>{}, "app", "fbuser");
    facebookDialog->result = std::make_shared<FBSDKLoginManagerLoginResult>(
        accessToken, false, std::set<std::string>{"email"}, std::set<std::string>{});
  }
  void graphReplies(const std::string& body, int status = 200) {
    server.reply("GET", "/graph/me", {.status = status, .body = body, .contentType = "application/json"});
  }
  Outcome loginWithFacebook() {
    return answer([](auto ok, auto ko) { manager()->loginWithFacebook(nullptr, ok, ko); });
  }
  using Call = void (AuthenticationManager::*)(AuthenticationManager::Success, AuthenticationManager::Failure);
  static constexpr Call kFacebook = &AuthenticationManager::signInWithFacebook;
  static constexpr Call kZedodo = &AuthenticationManager::signInWithZedodo;
  Outcome signIn(Call call) {
    return answer([call](auto ok, auto ko) { (*manager().*call)(ok, ko); });
  }
  Outcome registerWithZedodo() {
    return answer([](auto ok, auto ko) { manager()->registerWithZedodo("Zed", "Odo", "z@x.test", {}, ok, ko); });
  }

  static std::shared_ptr<DAZProfileData> zedodoProfile() {
    return std::make_shared<DAZProfileData>("z@x.test", "Zed Odo", std::nullopt, std::nullopt,
                                            URL::URLWithString("https://images.zedodo.com/p.png"));
  }

  // The component's own flow, with the provider at `origin` (the fake backend's unless given).
  void useOwnZedodoFlow(DAZOAuth2SignInFlow::PageOpener opener) {
    provideZedodoAt(serverOrigin());
    DAZSignIn::sharedInstance()->setFlow(
        std::make_shared<DAZOAuth2SignInFlow>([] { return std::string("client-7"); }, std::move(opener), 30));
  }
  static void provideZedodoAt(const std::string& origin) {
    ZSDK_ZTKOAuth2SignIn::setProviderHosts({origin, origin, "zedodo.com"});
  }
  std::string serverOrigin() const { return server.url("").substr(0, server.url("").size() - 1); }
  // What an earlier sign-in left in the keychain for a restore.
  static void storeZedodoGrant() {
    auto saved = ZSDK_ZTKOAuth2SignIn::standardZedodoAuthenticationForScope("openid", "client-7", std::nullopt);
    saved->setRefreshToken("rt-1");
    saved->setUserID("42");
    ASSERT_TRUE(ZSDK_ZTKOAuth2KeychainAuth::saveParamsToKeychainForName(daz_oauth2::kKeychainItemName, saved));
  }
  static std::optional<std::string> storedZedodoGrant() {
    return ZSDK_ZTKOAuth2KeychainAuth::authForZedodoFromKeychainForName(daz_oauth2::kKeychainItemName, "client-7",
                                                                        std::nullopt)
        ->refreshToken();
  }
  static ScriptedReply json(const char* body, int status = 200) {
    return {.status = status, .body = body, .contentType = "application/json"};
  }

  // A sign-in that must prompt for registration and answer neither closure.
  void signInPrompts(Call call) {
    Outcome outcome;
    (*manager().*call)(succeed(outcome), fail(outcome));
    waitFor([&] { return !sessionDelegate->prompts.empty(); });
    time.runUntilIdle();
    EXPECT_EQ(outcome.answers(), 0);
  }
};

TEST_F(ProviderSignInTest, FacebookLoginStoresTheTokenAndTheTextValuesOfTheGraphProfile) {
  answerFacebookLogin("fb1");
  graphReplies(R"({"email":"f@x.test","first_name":"Fa","last_name":"Book","id":"12345","picture":{"data":{}}})");
  EXPECT_EQ(loginWithFacebook().successes, 1);
  EXPECT_EQ(facebookDialog->requests.at(0).permissions, (Texts{"public_profile", "email"}));
  EXPECT_EQ(signInState(), "Facebook - fb1 -");
  EXPECT_EQ(manager()->fbUserData(),
            (std::map<std::string, std::string>{
                {"email", "f@x.test"}, {"first_name", "Fa"}, {"last_name", "Book"}, {"id", "12345"}}));
  EXPECT_EQ(std::tuple(server.lastRequest()->path, server.lastRequest()->query),
            std::tuple("/graph/me", "fields=email,first_name,last_name,picture&access_token=fb1"));

  // A new login replaces the whole map; non-text values are left out.
  graphReplies(R"({"first_name":"Fa","id":12345,"last_name":null})");
  loginWithFacebook();
  EXPECT_EQ(manager()->fbUserData(), (std::map<std::string, std::string>{{"first_name", "Fa"}}));
}

TEST_F(ProviderSignInTest, FacebookLoginFailuresAndCancellation) {
  facebookDialog->result = FBSDKLoginManagerLoginResult::cancelled();
  Outcome cancelled;
  manager()->loginWithFacebook(nullptr, succeed(cancelled), fail(cancelled));
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(cancelled.answers(), signInState()), std::tuple(0, "- - - -"));

  facebookDialog->result = nullptr;
  facebookDialog->error = NSError("com.facebook.sdk.login", 1, {{NSLocalizedDescriptionKey, Value("No network")}});
  EXPECT_EQ(loginWithFacebook().failures, Texts{"No network"});

  facebookDialog->error.reset();
  answerFacebookLogin("fb2");
  graphReplies(R"({"error":{"message":"bad"}})", 400);
  EXPECT_TRUE(loginWithFacebook().failures.at(0).starts_with("Error Domain="));
  EXPECT_EQ(signInState(), "Facebook - fb2 -");
}

TEST_F(ProviderSignInTest, FacebookUserWithoutAccountIsPromptedOnceThenSignedOut) {
  signInFacebook();
  manager()->setFbUserData(
      std::map<std::string, std::string>{{"first_name", "Fa"}, {"last_name", "Book"}, {"id", "12345"}});
  FBSDKAccessToken::setCurrentAccessToken(
      std::make_shared<FBSDKAccessToken>("fb1", std::set<std::string>{}, std::set<std::string>{}, "app", "fbuser"));
  reply("Tablet/GetUserProfile", 401, "", "GET");

  signInPrompts(kFacebook);
  // The e-mail was declined: an empty text for the registration screen to fill.
  EXPECT_EQ(sessionDelegate->prompts[0], (Texts{"Fa", "Book", "", server.url("graph/") + "12345/picture?type=large"}));
  EXPECT_EQ(std::tuple(manager()->fbUserData(), manager()->fbToken()), std::tuple(std::nullopt, "fb1"));

  EXPECT_EQ(signIn(kFacebook).failures, Texts{NSLocalizedString("authmanager_error_fb_nodata")});
  EXPECT_EQ(std::tuple(signInState(), FBSDKAccessToken::currentAccessToken(), sessionDelegate->calls.size()),
            std::tuple("Facebook - - -", nullptr, 0u));
}

TEST_F(ProviderSignInTest, FacebookRegistrationThenSignIn) {
  Outcome withoutToken;
  manager()->registerWithFacebook("Fa", "Book", "f@x.test", {}, succeed(withoutToken), fail(withoutToken));
  EXPECT_EQ(withoutToken.answers(), 0);
  waitForAnswer(withoutToken);
  EXPECT_EQ(std::tuple(withoutToken.failures, server.requestCount()),
            std::tuple(Texts{NSLocalizedString("authmanager_error_fb_nodata")}, 0u));

  signInFacebook();
  reply("Account/TabletExternalRegister", 200, R"({"token":"ignored"})");
  auto registered = answer([&](auto ok, auto ko) {
    manager()->registerWithFacebook("Fa", "Book", "f@x.test", std::vector<std::int64_t>{9}, ok, ko);
  });
  EXPECT_EQ(registered.successes, 1);
  EXPECT_EQ(lastBody(), (nlohmann::json{{"userName", "f@x.test"},
                                        {"firstName", "Fa"},
                                        {"lastName", "Book"},
                                        {"token", "fb1"},
                                        {"provider", "facebook"},
                                        {"schoolId", {9}}}));
  EXPECT_EQ(signInState(), "Facebook - fb1 -");

  reply("Tablet/GetUserProfile", 500, R"({"errorMessage":"maintenance"})", "GET");
  EXPECT_EQ(signIn(kFacebook).failures, Texts{"maintenance"});
  EXPECT_EQ(manager()->fbToken(), "fb1");
  reply("Tablet/GetUserProfile", 200, profileJson({{"hasZedodo", true}}), "GET");
  EXPECT_EQ(signIn(kFacebook).successes, 1);
  EXPECT_EQ(locator().profileService()->user()->id(), "u1");
}

TEST_F(ProviderSignInTest, ZedodoCallbackStoresTheUserOrReportsTheError) {
  zedodoFlow->error = NSError("com.zedodo.signin", -5, {{NSLocalizedDescriptionKey, Value("Cancelled by user")}});
  DAZSignIn::sharedInstance()->signIn();
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(keychain->count(), signInState(), manager()->zedodoUserData()),
            std::tuple(0u, "- - - -", nullptr));

  zedodoFlow->error.reset();
  auto profile = zedodoProfile();
  zedodoSignsIn(profile);
  EXPECT_EQ(sessionDelegate->calls, (Texts{"zedodoSigninError Cancelled by user", "userSignedInWithZedodo"}));
  EXPECT_EQ(std::tuple(signInState(), manager()->zedodoUserData()), std::tuple("Zedodo - - z1", profile));
}

TEST_F(ProviderSignInTest, ZedodoUserWithoutAccountIsPromptedThenSignedOut) {
  zedodoSignsIn(zedodoProfile());
  reply("Tablet/GetUserProfile", 401, "", "GET");
  signInPrompts(kZedodo);
  EXPECT_EQ(sessionDelegate->prompts[0], (Texts{"Zed Odo", "z@x.test", "https://images.zedodo.com/p.png=s300"}));

  EXPECT_EQ(signIn(kZedodo).failures, Texts{NSLocalizedString("authmanager_error_zedodo_nodata")});
  EXPECT_EQ(std::tuple(signInState(), DAZSignIn::sharedInstance()->currentUser(), zedodoFlow->signOuts),
            std::tuple("Zedodo - - -", nullptr, 1));

  EXPECT_EQ(registerWithZedodo().failures, Texts{NSLocalizedString("authmanager_error_zedodo_nodata")});
  EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(ProviderSignInTest, ZedodoPromptWithMissingValuesOrWithoutDelegateThenRegistration) {
  // The component gave no e-mail and no picture: empty texts, no URL.
  zedodoSignsIn(std::make_shared<DAZProfileData>(std::nullopt, "Zed", std::nullopt, std::nullopt, std::nullopt));
  reply("Tablet/GetUserProfile", 401, "", "GET");
  signInPrompts(kZedodo);
  EXPECT_EQ(sessionDelegate->prompts[0], (Texts{"Zed", "", "-"}));

  // Nobody to prompt: the data is forgotten all the same, and neither closure runs.
  zedodoSignsIn(zedodoProfile());
  manager()->setSessionDelegate(std::weak_ptr<SessionDelegate>());
  Outcome prompted;
  manager()->signInWithZedodo(succeed(prompted), fail(prompted));
  waitFor([&] { return manager()->zedodoUserData() == nullptr; });
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(prompted.answers(), sessionDelegate->prompts.size(), manager()->zedodoToken()),
            std::tuple(0, 1u, "z1"));

  // With the account made, the same sign-in finishes.
  reply("Account/TabletExternalRegister", 200, "{}");
  EXPECT_EQ(registerWithZedodo().successes, 1);
  EXPECT_EQ(std::tuple(lastBody()["provider"], lastBody()["token"]), std::tuple("zedodo", "z1"));
  reply("Tablet/GetUserProfile", 200, profileJson({{"hasZedodo", true}}), "GET");
  EXPECT_EQ(signIn(kZedodo).successes, 1);
  EXPECT_TRUE(locator().profileService()->user()->hasZedodo());
}

TEST_F(ProviderSignInTest, AProviderTokenTheKeychainRefusesEndsTheSignInThere) {
  const auto refusing = std::make_shared<RefusingKeychainStore>(KeychainFailure{"/ro/provider", "Read-only file system"});
  KeychainStore::setCurrent(refusing);
  refusing->setRefusing(true);
  const std::string unsaved = localizedStringWithFormat(
      NSLocalizedString(AuthenticationManager::kUnsavedSignInMessageKey), {"/ro/provider", "Read-only file system"});
  answerFacebookLogin("fb1");
  EXPECT_EQ(std::tuple(loginWithFacebook().failures, signInState(), server.requestCount()),
            std::tuple(Texts{unsaved}, "- - - -", 0u));
  // Not the registration a profile load without the token would lead to.
  zedodoSignsIn(zedodoProfile());
  EXPECT_EQ(std::tuple(sessionDelegate->calls, signInState()),
            std::tuple(Texts{"zedodoSigninError " + unsaved}, "- - - -"));
}

// What a new start would restore.
std::optional<AuthenticationType> nextStart() {
  return std::make_shared<AuthenticationManager>()->authenticationType();
}

// A sign-in ends what the other methods stored, so the next start takes it up and not an older one.
TEST_F(ProviderSignInTest, ASignInEndsWhatTheOtherMethodsStoredAndIsTheOneTheNextStartTakes) {
  reply("Tablet/GetUserProfile", 200, profileJson(), "GET");
  graphReplies(R"({"id":"12345"})");
  const auto signInThroughFacebook = [&](const std::string& token) {
    answerFacebookLogin(token);
    ASSERT_EQ(loginWithFacebook().successes, 1);
    ASSERT_EQ(signIn(kFacebook).successes, 1);
  };
  // An e-mail sign-in a start could not restore.
  manager()->setAccessToken("mail-1");
  signInThroughFacebook("fb1");
  EXPECT_EQ(std::tuple(signInState(), nextStart()), std::tuple("Facebook - fb1 -", AuthenticationType::Facebook));

  // A Zedodo one: its grant is revoked at the provider and forgotten here, without a word.
  manager()->logout();
  useOwnZedodoFlow([](const URL&) { return true; });
  server.reply("POST", "/o/oauth2/revoke", {});
  storeZedodoGrant();
  manager()->setZedodoToken("z-old");
  sessionDelegate->calls.clear();
  signInThroughFacebook("fb2");
  std::vector<std::string> revoked;
  waitFor([&] {
    revoked.clear();
    for (const auto& request : server.requests())
      if (request.path == "/o/oauth2/revoke") revoked.push_back(request.body);
    return !revoked.empty();
  });
  EXPECT_EQ(std::tuple(signInState(), storedZedodoGrant(), nextStart(), sessionDelegate->calls),
            std::tuple("Facebook - fb2 -", std::nullopt, AuthenticationType::Facebook, Texts{}));
  EXPECT_EQ(revoked, Texts{"token=rt-1&client_id=client-7"});

  // An e-mail sign-in ends the Facebook one, the SDK's token with it.
  reply("Account/TabletLogin", 200, R"({"token":"mail-2"})");
  EXPECT_EQ(answer([](auto ok, auto ko) { manager()->login("ada@x.test", "pw", ok, ko); }).successes, 1);
  EXPECT_EQ(std::tuple(signInState(), FBSDKAccessToken::currentAccessToken(), nextStart()),
            std::tuple("Basic mail-2 - -", nullptr, AuthenticationType::Basic));
  waitFor([] { return URLSession::transfersInFlight() == 0; });
  DAZSignIn::sharedInstance()->setFlow(nullptr);
  ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
}

// A restore whose grant the provider refuses leaves no Zedodo token to be taken up again.
TEST_F(ProviderSignInTest, AZedodoGrantRefusedAtStartTakesItsTokenBeforeTheAlertShows) {
  struct TokenAtAlert : RecordingSessionDelegate {
    void zedodoSigninError(const std::string&) override { tokens.push_back(manager()->zedodoToken().value_or("-")); }
    Texts tokens;
  };
  const auto delegate = std::make_shared<TokenAtAlert>();
  manager()->setSessionDelegate(delegate);
  useOwnZedodoFlow([](const URL&) { return true; });
  server.reply("POST", "/o/oauth2/token", json(R"({"error":"invalid_grant"})", 400));
  storeZedodoGrant();
  manager()->setZedodoToken("z-old");
  manager()->setAuthenticationType(AuthenticationType::Zedodo);
  DAZSignIn::sharedInstance()->signInSilently();
  waitFor([&] { return !delegate->tokens.empty(); });
  EXPECT_EQ(std::tuple(delegate->tokens, storedZedodoGrant()), std::tuple(Texts{"-"}, std::nullopt));

  reply("Tablet/GetUserProfile", 200, profileJson(), "GET");
  graphReplies(R"({"id":"12345"})");
  answerFacebookLogin("fb1");
  loginWithFacebook();
  EXPECT_EQ(signIn(kFacebook).successes, 1);
  EXPECT_EQ(nextStart(), AuthenticationType::Facebook);
  waitFor([] { return URLSession::transfersInFlight() == 0; });
  DAZSignIn::sharedInstance()->setFlow(nullptr);
  ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
}

// The component's own flow, with the fake backend as provider: a sign-in whose token the keychain
// refuses ends, and standard error says so once, whichever road it came by.
TEST_F(ProviderSignInTest, AZedodoSignInTheKeychainRefusesIsToldOnceAsNotKept) {
  std::vector<URL> opened;
  useOwnZedodoFlow([&](const URL& page) { return opened.push_back(page), true; });
  server.reply("GET", "/oauth2/v3/userinfo", json(R"({"sub":"42","name":"Zed Odo"})"));
  server.replies("POST", "/o/oauth2/token",
                 {json(R"({"access_token":"at-1","refresh_token":"rt-1","expires_in":3600})"),
                  json(R"({"access_token":"at-2","refresh_token":"rt-2","expires_in":3600})")});

  using Road = std::function<void(RefusingKeychainStore&)>;
  const Road browse = [&](RefusingKeychainStore& store) {
    store.setRefusing(true);
    DAZSignIn::sharedInstance()->signIn();
    ASSERT_TRUE(time.runUntil([&] { return !opened.empty(); }));
    std::map<std::string, std::string> sent;
    for (const auto& item : opened.back().queryItems()) sent[item.name] = item.value.value_or("");
    EXPECT_TRUE(dataWithContentsOfURL(*URL::URLWithString(sent["redirect_uri"] + "?code=c-1&state=" + sent["state"]),
                                      10));
  };
  const Road restore = [this](RefusingKeychainStore& store) {
    storeZedodoGrant();
    store.setRefusing(true);
    DAZSignIn::sharedInstance()->signInSilently();
  };
  for (const auto& [place, road] :
       std::vector<std::pair<std::string, Road>>{{"/ro/signing-in", browse}, {"/ro/restoring", restore}}) {
    SCOPED_TRACE(place);
    const auto refusing = std::make_shared<RefusingKeychainStore>(KeychainFailure{place, "Read-only file system"});
    KeychainStore::setCurrent(refusing);
    sessionDelegate->calls.clear();
    testing::internal::CaptureStderr();
    road(*refusing);
    waitFor([&] { return !sessionDelegate->calls.empty(); });
    time.runUntilIdle();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "dorvale: cannot save the sign-in in " + place + " (Read-only file system): it was not kept\n");
    EXPECT_EQ(std::tuple(sessionDelegate->calls.size(), signInState()), std::tuple(1u, "- - - -"));
  }
  // No sign-out of this flow goes to the provider once it is gone.
  DAZSignIn::sharedInstance()->setFlow(nullptr);
  ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
}

// The same flow: a renewal that gets no answer, or a busy or broken provider's, leaves the sign-in
// to the next call; only the provider's refusal of the grant ends it.
TEST_F(ProviderSignInTest, AZedodoRenewalWithoutAnAnswerKeepsTheSignInAndARefusedOneEndsIt) {
  useOwnZedodoFlow([](const URL&) { return true; });
  // Tokens that never last the minute a call needs: every call renews.
  server.replies("POST", "/o/oauth2/token",
                 {json(R"({"access_token":"at-1","expires_in":30})"), json(R"({"error":"backend_error"})", 500),
                  json(R"({"error":"rate_limited"})", 429), json(R"({"access_token":"at-2","expires_in":30})"),
                  json(R"({"error":"invalid_grant"})", 400)});
  reply("Tablet/GetNews", 200, "[]");
  storeZedodoGrant();
  DAZSignIn::sharedInstance()->signInSilently();
  waitFor([&] { return !sessionDelegate->calls.empty(); });
  ASSERT_EQ(std::tuple(sessionDelegate->calls, signInState()),
            std::tuple(Texts{"userSignedInWithZedodo"}, "Zedodo - - at-1"));
  std::vector<std::shared_ptr<News>> news;
  const auto getNews = [&](auto keep, auto ko) { locator().newsService()->getNews(keep, ko); };

  FakeBackend::ClosedPort closed;
  provideZedodoAt(closed.url("").substr(0, closed.url("").size() - 1));
  EXPECT_EQ(answerInto(news, getNews).failures, Texts{networkMessage()});
  EXPECT_EQ(std::tuple(signInState(), storedZedodoGrant(), sessionDelegate->calls.size(), server.requestCount()),
            std::tuple("Zedodo - - at-1", "rt-1", 1u, 1u));

  provideZedodoAt(serverOrigin());
  for (const char* answered : {"500", "429"}) {
    SCOPED_TRACE(answered);
    EXPECT_EQ(answerInto(news, getNews).failures, Texts{networkMessage()});
    EXPECT_EQ(std::tuple(signInState(), storedZedodoGrant(), sessionDelegate->calls.size()),
              std::tuple("Zedodo - - at-1", "rt-1", 1u));
  }
  EXPECT_EQ(answerInto(news, getNews).successes, 1);
  EXPECT_EQ(std::tuple(server.lastRequest()->header("Authorization"), signInState()),
            std::tuple("Bearer at-2", "Zedodo - - at-2"));

  EXPECT_EQ(answerInto(news, getNews).failures, Texts{unauthorizedMessage()});
  EXPECT_EQ(std::tuple(signInState(), storedZedodoGrant(), sessionDelegate->calls.back()),
            std::tuple("- - - -", std::nullopt, "userDidLogout"));
  waitFor([] { return URLSession::transfersInFlight() == 0; });
  DAZSignIn::sharedInstance()->setFlow(nullptr);
  ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
}

}  // namespace
