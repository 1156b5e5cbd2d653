#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "account/external_register_view_controller.h"
#include "account_flows.h"

namespace {

using ProviderSignInTest = AccountFlowTest;

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
    bool zedodoInKeychain;
    bool facebookToken;
    std::vector<std::string> zedodoCalls;
    std::size_t profileFetches;
  };
  const std::vector<Case> cases = {
      {std::nullopt, true, true, {}, 0},
      {AuthenticationType::Zedodo, false, false, {}, 0},
      {AuthenticationType::Zedodo, true, false, {"signInSilently"}, 0},
      {AuthenticationType::Facebook, false, false, {}, 0},
      {AuthenticationType::Facebook, false, true, {}, 1},
      {AuthenticationType::Basic, false, false, {}, 1},
  };
  replyProfile({{200, profileJson(true)}});
  for (const auto& c : cases) {
    server.clearRequests();
    zedodo->calls.clear();
    zedodo->inKeychain = c.zedodoInKeychain;
    FBSDKAccessToken::setCurrentAccessToken(c.facebookToken ? facebookToken("fb-1") : nullptr);
    manager()->setAuthenticationType(c.type);
    manager()->setAccessToken("basic-1");
    showLogin();
    time.runUntilIdle();
    if (c.profileFetches) {
      ASSERT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
    }
    const int row = static_cast<int>(&c - cases.data());
    EXPECT_EQ(zedodo->calls, c.zedodoCalls) << "row " << row;
    EXPECT_EQ(requestsTo("/api/Tablet/GetUserProfile"), c.profileFetches) << "row " << row;
    EXPECT_EQ(tabBarShown(), c.profileFetches == 1) << "row " << row;
    EXPECT_EQ(openAlert(), "(no alert)") << "row " << row;
    EXPECT_FALSE(overlayShown());
    if (c.facebookToken && c.type == AuthenticationType::Facebook) {
      EXPECT_EQ(manager()->fbToken(), "fb-1");
    }
  }
}

TEST_F(ProviderSignInTest, AnUnauthorisedRestoreKeepsItsAlertOverTheForm) {
  replyProfile({{401, R"({"errorMessage":"expired"})"}});
  manager()->setAuthenticationType(AuthenticationType::Basic);
  manager()->setAccessToken("stale");
  showLogin();
  ASSERT_TRUE(time.runUntil([&] { return alert() != nullptr; }, 10));
  time.runUntilIdle();
  EXPECT_EQ(openAlert(), "Your session has expired. Please sign in again. | -");
  EXPECT_EQ(manager()->authenticationType(), std::nullopt) << "the 401 logged out";
}

TEST_F(ProviderSignInTest, ACancelledOrFailedFacebookDialogStaysOnTheForm) {
  auto login = showLogin();
  facebook->result = FBSDKLoginManagerLoginResult::cancelled();
  login->fbLoginButtonTap(*login->loginButton.lock());
  time.advance(1);
  EXPECT_EQ(openAlert(), "(no alert)");
  EXPECT_FALSE(overlayShown());

  facebook->result = nullptr;
  facebook->error = NSError("dialog", 1, {{NSLocalizedDescriptionKey, "Dialog broke"}});
  login->fbLoginButtonTap(*login->loginButton.lock());
  EXPECT_EQ(answerAlert(), "Dialog broke | -");
  EXPECT_EQ(server.requestCount(), 0u);
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
  EXPECT_EQ(openAlert(), "(no alert)");
  auto registration = top<ExternalRegisterViewController>();
  time.runUntilIdle();
  EXPECT_EQ(registration->firstNameTextField.lock()->text(), "Ann");
  EXPECT_EQ(registration->emailTextField.lock()->text(), "ann@example.com");

  registration->lastNameTextField.lock()->setText("  ");
  registration->registerButtonTap(*registration->emailTextField.lock());
  EXPECT_EQ(answerAlert(), "Your registration was successful. | -");
  ASSERT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
  EXPECT_EQ(top<LoginViewController>(), login) << "the registration popped itself";
  auto sent = [this](const std::string& path) {
    const auto all = server.requests();
    auto found = std::find_if(all.begin(), all.end(), [&](const RecordedRequest& r) { return r.path == path; });
    return found == all.end() ? std::optional<RecordedRequest>() : *found;
  };
  auto registered = sent("/api/Account/TabletExternalRegister");
  ASSERT_TRUE(registered);
  EXPECT_EQ(nlohmann::json::parse(registered->body).value("lastName", ""), "  ") << "blanks are sent as typed";
  ASSERT_TRUE(time.runUntil([&] { return sent("/api/Account/TabletUploadProfilePicture").has_value(); }, 10));
  auto upload = sent("/api/Account/TabletUploadProfilePicture");
  ASSERT_EQ(upload->parts.size(), 1u);
  EXPECT_EQ(std::tie(upload->parts[0].filename, upload->parts[0].content),
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
