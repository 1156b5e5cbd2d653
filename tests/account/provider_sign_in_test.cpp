#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "account/external_register_view_controller.h"
#include "account_fixture.h"
#include "platform/frameworks/fbsdk_web_login_dialog.h"
#include "platform/ui/browser_sign_ins.h"
#include "signin/daz_sign_in_error.h"

namespace {

using ProviderSignInTest = AccountTest;

TEST(SplitFullNameTest, TheLastSpaceSeparatesTheLastName) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"Ann", "Ann", ""},           {"Ann Lee", "Ann", "Lee"}, {"Ann Mary Lee", "Ann Mary", "Lee"},
      {"Ann  Lee", "Ann ", "Lee"},  {"Ann ", "Ann", ""},       {"", "", ""},
      {"Ann\tLee", "Ann\tLee", ""},
  };
  for (const auto& [full, first, last] : cases) EXPECT_EQ(splitFullName(full), std::pair(first, last)) << full;
}

TEST_F(ProviderSignInTest, TheRestoreFollowsTheStoredSignInTypeWithoutOverlay) {
  struct Case {
    std::optional<AuthenticationType> type;
    bool zedodoInKeychain, facebookToken;
    std::vector<std::string> zedodoCalls;
    bool signedIn;
  };
  const Case cases[] = {
      {std::nullopt, true, true, {}, false},
      {AuthenticationType::Zedodo, false, false, {}, false},
      {AuthenticationType::Zedodo, true, false, {"signInSilently"}, false},
      {AuthenticationType::Facebook, false, false, {}, false},
      {AuthenticationType::Facebook, false, true, {}, true},
      {AuthenticationType::Basic, false, false, {}, true},
  };
  replyProfile({{200, profileJson(true)}});
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    server.clearRequests();
    zedodo->calls.clear();
    zedodo->inKeychain = c.zedodoInKeychain;
    FBSDKAccessToken::setCurrentAccessToken(c.facebookToken ? facebookToken("fb-1") : nullptr);
    manager()->setAuthenticationType(c.type);
    manager()->setAccessToken("basic-1");
    showLogin();
    time.runUntilIdle();
    if (c.signedIn) {
      ASSERT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
    }
    EXPECT_EQ(zedodo->calls, c.zedodoCalls);
    EXPECT_EQ(std::tuple(requestsTo("/api/Tablet/GetUserProfile").size(), tabBarShown(), alert(), overlayShown()),
              std::tuple(c.signedIn ? 1u : 0u, c.signedIn, nullptr, false));
    if (c.signedIn && c.type == AuthenticationType::Facebook) {
      EXPECT_EQ(manager()->fbToken(), "fb-1");
    }
  }
}

// Its grant erased (as damaged), a Zedodo token can never be renewed: the start drops it without a
// word, and no later start takes it up.
TEST_F(ProviderSignInTest, AZedodoTokenWithoutItsGrantIsDroppedAtTheStartWithoutAWord) {
  manager()->setZedodoToken("z-old");
  manager()->setAuthenticationType(AuthenticationType::Zedodo);
  showLogin();
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(manager()->zedodoToken(), zedodo->calls.size(), alert(), server.requestCount()),
            std::tuple(std::nullopt, 0u, nullptr, 0u));
  EXPECT_EQ(std::make_shared<AuthenticationManager>()->authenticationType(), std::nullopt);
}

TEST_F(ProviderSignInTest, AnUnauthorisedRestoreKeepsItsAlertOverTheForm) {
  replyProfile({{401, R"({"errorMessage":"expired"})"}});
  manager()->setAuthenticationType(AuthenticationType::Basic);
  manager()->setAccessToken("stale");
  showLogin();
  ASSERT_TRUE(time.runUntil([&] { return alert() != nullptr; }, 10));
  time.runUntilIdle();
  EXPECT_EQ(answerAlert(), "Your session has expired. Please sign in again. | -");
  EXPECT_EQ(manager()->authenticationType(), std::nullopt) << "the 401 logged out";
}

TEST_F(ProviderSignInTest, ACancelledOrFailedFacebookDialogStaysOnTheForm) {
  auto login = showLogin();
  facebook->result = FBSDKLoginManagerLoginResult::cancelled();
  login->fbLoginButtonTap(*login->loginButton.lock());
  time.advance(1);
  EXPECT_EQ(alert(), nullptr);
  EXPECT_FALSE(overlayShown());

  facebook->result = nullptr;
  facebook->error = NSError("dialog", 1, {{NSLocalizedDescriptionKey, "Dialog broke"}});
  login->fbLoginButtonTap(*login->loginButton.lock());
  EXPECT_EQ(answerAlert(), "Dialog broke | -");
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ProviderSignInTest, TheWebDialogWithoutAnAppIdSaysSoOnceAndACancelledOneSaysNothing) {
  std::vector<std::string> opened;
  FBSDKLoginDialogPresenter::setCurrent(
      std::make_shared<FBSDKWebLoginDialogPresenter>(300, [&](const URL& page, std::ostream&) {
        opened.push_back(page.absoluteString());
        return false;
      }));
  auto login = showLogin();
  FBSDKSettings::setAppID("");
  login->fbLoginButtonTap(*login->loginButton.lock());
  EXPECT_EQ(answerAlert(), "Facebook sign-in is not set up: the application has no Facebook app id. | -");
  EXPECT_EQ(std::tuple(alert(), opened.size()), std::tuple(nullptr, 0u));

  FBSDKSettings::setAppID("sample-app");
  login->fbLoginButtonTap(*login->loginButton.lock());
  time.runUntilIdle();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(BrowserSignIns::cancelAll(), 1u);
  time.advance(1);
  EXPECT_EQ(std::tuple(alert(), overlayShown(), server.requestCount(), top<LoginViewController>()),
            std::tuple(nullptr, false, 0u, login));
}

TEST_F(ProviderSignInTest, AWebDialogLeftInTheBrowserUntilItsTimeRunsOutSaysSo) {
  FBSDKLoginDialogPresenter::setCurrent(
      std::make_shared<FBSDKWebLoginDialogPresenter>(0.05, [](const URL&, std::ostream&) { return true; }));
  FBSDKSettings::setAppID("sample-app");
  FBSDKSettings::setLoginDialogURL("http://127.0.0.1:9/dialog");
  auto login = showLogin();
  login->fbLoginButtonTap(*login->loginButton.lock());
  ASSERT_TRUE(time.runUntil([&] { return alert() != nullptr; }, 10));
  EXPECT_EQ(answerAlert(), "The Facebook sign-in was not completed. | -");
  EXPECT_EQ(std::tuple(overlayShown(), server.requestCount()), std::tuple(false, 0u));
  FBSDKSettings::setLoginDialogURL(std::nullopt);
}

// A Zedodo sign-in that waits in the browser until it is cancelled or answered.
struct WaitingZedodoFlow : RecordingZedodoFlow {
  void signIn(const std::shared_ptr<DAZSignInUIDelegate>&, Completion completion) override {
    waits = true;
    handle = BrowserSignIns::add("Zedodo", [this, completion] {
      waits = false;
      completion(nullptr, dazSignInError(DAZSignInErrorCode::Canceled, "The Zedodo sign-in was cancelled."));
      return true;
    });
  }
  bool waits = false;
  std::shared_ptr<void> handle;
};

// Either answer would sign in: starting one provider's sign-in gives up the other's that waits in
// the browser and says so, the given-up one ends without a word on the form, and a sign-in by
// e-mail gives up whatever still waits, so that no late answer follows it.
TEST_F(ProviderSignInTest, StartingAnySignInGivesUpTheOthersWaitingInTheBrowser) {
  auto zedodoWaits = std::make_shared<WaitingZedodoFlow>();
  DAZSignIn::sharedInstance()->setFlow(zedodoWaits);
  std::vector<URL> facebookPages;
  FBSDKLoginDialogPresenter::setCurrent(
      std::make_shared<FBSDKWebLoginDialogPresenter>(300, [&](const URL& page, std::ostream&) {
        facebookPages.push_back(page);
        return true;
      }));
  FBSDKSettings::setAppID("sample-app");
  FBSDKSettings::setLoginDialogURL("http://127.0.0.1:9/dialog");
  auto login = showLogin();
  testing::internal::CaptureStdout();
  const auto tap = [&](void (LoginViewController::*button)(UIControl&)) {
    ((*login).*button)(*login->loginButton.lock());
    time.runUntilIdle();
  };
  tap(&LoginViewController::zedodoLoginButtonTap);
  tap(&LoginViewController::fbLoginButtonTap);
  EXPECT_EQ(std::tuple(zedodoWaits->waits, facebookPages.size(), alert()), std::tuple(false, 1u, nullptr));
  tap(&LoginViewController::zedodoLoginButtonTap);
  EXPECT_TRUE(zedodoWaits->waits);
  tap(&LoginViewController::zedodoLoginButtonTap);
  EXPECT_TRUE(zedodoWaits->waits) << "a second start of the same provider replaces the first itself";

  reply("Account/TabletLogin", 200, R"({"token":"t1"})");
  replyProfile({{200, profileJson(true)}});
  login->emailTextField.lock()->setText("ada@example.com");
  login->passwordTextField.lock()->setText("secret1");
  login->loginButton.lock()->tap();
  ASSERT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(zedodoWaits->waits, alert()), std::tuple(false, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "The Zedodo sign-in that waited in the browser was given up.\n"
            "The Facebook sign-in that waited in the browser was given up.\n"
            "The Zedodo sign-in that waited in the browser was given up.\n");
  EXPECT_EQ(manager()->authenticationType(), AuthenticationType::Basic);
  FBSDKSettings::setLoginDialogURL(std::nullopt);
}

TEST_F(ProviderSignInTest, AnUnknownFacebookUserRegistersAndIsSignedIn) {
  auto login = showLogin();
  facebook->result = std::make_shared<FBSDKLoginManagerLoginResult>(facebookToken("fb-2"), false,
                                                                    std::set<std::string>{}, std::set<std::string>{});
  server.reply("GET", "/graph/me",
               {.body = R"({"id":"u1","first_name":"Ann","last_name":"Lee","email":"ann@example.com"})",
                .contentType = "application/json"});
  server.reply("GET", "/graph/u1/picture", {.body = "picture-bytes", .contentType = "image/jpeg"});
  replyProfile({{401, R"({"errorMessage":"unknown"})"}, {200, profileJson(false)}});
  reply("Account/TabletExternalRegister", 200, R"({"token":"t2"})");
  reply("Account/TabletUploadProfilePicture", 200, "null");

  login->fbLoginButtonTap(*login->loginButton.lock());
  ASSERT_TRUE(time.runUntil([&] { return top<ExternalRegisterViewController>() != nullptr; }, 10));
  EXPECT_FALSE(overlayShown()) << "hidden before the push";
  EXPECT_EQ(alert(), nullptr);
  auto registration = top<ExternalRegisterViewController>();
  time.runUntilIdle();
  EXPECT_EQ(registration->firstNameTextField.lock()->text(), "Ann");
  EXPECT_EQ(registration->emailTextField.lock()->text(), "ann@example.com");

  registration->lastNameTextField.lock()->setText("  ");
  registration->registerButtonTap(*registration->emailTextField.lock());
  EXPECT_EQ(answerAlert(), "Your registration was successful. | -");
  ASSERT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
  EXPECT_EQ(top<LoginViewController>(), login) << "the registration popped itself";
  const auto registered = requestsTo("/api/Account/TabletExternalRegister");
  ASSERT_EQ(registered.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(registered[0].body).value("lastName", ""), "  ") << "blanks are sent as typed";
  const auto upload = [&] { return requestsTo("/api/Account/TabletUploadProfilePicture"); };
  ASSERT_TRUE(time.runUntil([&] { return !upload().empty(); }, 10));
  ASSERT_EQ(upload()[0].parts.size(), 1u);
  EXPECT_EQ(std::tie(upload()[0].parts[0].filename, upload()[0].parts[0].content),
            std::tie("profilePic.JPEG", "picture-bytes"));
}

TEST_F(ProviderSignInTest, TheExternalFormListsItsFaultsAndAMissingFacebookTokenFails) {
  auto login = showLogin();
  login->userMustRegister("", "", "", std::nullopt);
  auto registration = top<ExternalRegisterViewController>();
  ASSERT_NE(registration, nullptr);
  const std::vector<std::array<std::string, 4>> cases = {
      {"", "", "", "Please enter your last name.\nPlease enter your first name.\nPlease enter a valid e-mail address."},
      {"Ann", "Lee", "ann@", "Please enter a valid e-mail address."}};
  for (const auto& [first, last, mail, message] : cases) {
    registration->firstNameTextField.lock()->setText(first);
    registration->lastNameTextField.lock()->setText(last);
    registration->emailTextField.lock()->setText(mail);
    registration->registerButtonTap(*registration->emailTextField.lock());
    EXPECT_EQ(answerAlert(), "Please check your input | " + message);
  }
  registration->emailTextField.lock()->setText("ann@example.com");
  registration->registerButtonTap(*registration->emailTextField.lock());
  EXPECT_EQ(answerAlert(), "Your Facebook account details could not be read. Please try again. | -");
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_EQ(top<ExternalRegisterViewController>(), registration);
}

}  // namespace
