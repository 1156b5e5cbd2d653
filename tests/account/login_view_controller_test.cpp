#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "account_fixture.h"
#include "app/ui_view_controller_dorvale.h"
#include "services/lecture_service.h"
#include "support/refusing_keychain_store.h"

namespace {

using LoginScreenTest = AccountTest;

TEST_F(LoginScreenTest, SmallPhonesGetTheColumnOfTheirHeightBand) {
  using Constants = std::array<CGFloat, 8>;  // in the order of the outlets below
  const Constants scene = {40, 230, 8, 40, 16, 8, 60, 40}, small = {25, 100, 0, 6, 8, 0, 36, 4},
                  middle = {25, 135, 8, 13, 16, 0, 43, 18}, large = {23, 196, 8, 25, 16, 8, 50, 31};
  const auto phone = UIUserInterfaceIdiom::Phone;
  const std::vector<std::tuple<UIUserInterfaceIdiom, CGFloat, Constants>> cases = {
      {phone, 499, small},
      {phone, 500, middle},
      {phone, 599, middle},
      {phone, 600, large},
      {phone, 699, large},
      {phone, 700, scene},
      {UIUserInterfaceIdiom::Pad, 499, scene}};
  for (const auto& [idiom, height, constants] : cases) {
    UIDevice::currentDevice()->setUserInterfaceIdiom(idiom);
    UIScreen::mainScreen()->setBounds(CGRectMake(0, 0, 320, height));
    auto login = std::dynamic_pointer_cast<LoginViewController>(
        UIStoryboard::storyboardWithName("Startup")->instantiateViewControllerWithIdentifier("login"));
    login->loadViewIfNeeded();
    Constants shown;
    for (std::size_t i = 0;
         auto outlet : {login->loginLogoTopSpace, login->loginLogoHeight, login->logoTitleSpace, login->titleEmailSpace,
                        login->passwordLoginSpace, login->loginRegSpace, login->regFbSpace, login->fbBottomSpace})
      shown[i++] = outlet.lock()->constant();
    EXPECT_EQ(shown, constants) << "height " << height;
  }
}

// Both rules broken at once are the sign-in console script's.
TEST_F(LoginScreenTest, AnInvalidFormIsOneAlertWithALineForEachFailingField) {
  auto login = showLogin();
  const std::array<std::string, 3> cases[] = {
      {"ada@example.com", "12345", "The password must be at least 6 characters long."},
      {"nobody", "123456", "Please enter a valid e-mail address."}};
  for (const auto& [email, password, message] : cases) {
    login->emailTextField.lock()->setText(email);
    login->passwordTextField.lock()->setText(password);
    login->loginButton.lock()->tap();
    time.advance(1);
    EXPECT_FALSE(overlayShown());
    EXPECT_EQ(answerAlert(), "Please check your input | " + message);
  }
  // A field without any text stops the tap silently.
  login->passwordTextField.lock()->setText(std::nullopt);
  login->loginButton.lock()->tap();
  EXPECT_EQ(alert(), nullptr);
  EXPECT_EQ(server.requestCount(), 0u);
}

// The invalid address and the backend's refusal are the recovery console script's.
TEST_F(LoginScreenTest, PasswordRecoveryRunsWithoutOverlayAndSendsTheAddressAsTyped) {
  auto login = showLogin();
  login->emailTextField.lock()->setText(" ada@example.com");
  reply("Account/TabletPasswordRecovery", 200, "null", 0.3);
  login->passwordRecoveryButton.lock()->tap();
  time.advance(1);
  EXPECT_FALSE(overlayShown());
  EXPECT_EQ(answerAlert(), "We have sent you an e-mail to reset your password. | -");
  EXPECT_EQ(lastBody(), (nlohmann::json{{"userName", " ada@example.com"}}));
}

TEST_F(LoginScreenTest, ASlowSignInShowsTheOverlayAndSuccessEmptiesTheFormBeforeTheTabBar) {
  auto login = showLogin();
  reply("Account/TabletLogin", 401, R"({"errorMessage":"Wrong password"})", 0.3);
  login->emailTextField.lock()->setText("ada@example.com");
  login->passwordTextField.lock()->setText("secret1 ");
  login->loginButton.lock()->tap();
  time.advance(0.6);
  EXPECT_TRUE(overlayShown());
  EXPECT_EQ(answerAlert(), "Wrong password | -");
  EXPECT_FALSE(overlayShown());
  EXPECT_EQ(lastBody(), (nlohmann::json{{"userName", "ada@example.com"}, {"password", "secret1 "}}));
  EXPECT_EQ(login->passwordTextField.lock()->text(), "secret1 ") << "a failure keeps the form";

  reply("Account/TabletLogin", 200, R"({"token":"t1"})");
  replyProfile({{200, profileJson(true)}});
  std::vector<std::string> formWhenTabsAppear;
  ProbeTabBar::onAppear = [&] {
    formWhenTabsAppear = {*login->emailTextField.lock()->text(), *login->passwordTextField.lock()->text()};
  };
  login->loginButton.lock()->tap();
  ASSERT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
  EXPECT_EQ(formWhenTabsAppear, (std::vector<std::string>{"", ""}));
  time.advance(1);
  EXPECT_FALSE(overlayShown()) << "a quick answer never shows the overlay";
}

TEST_F(LoginScreenTest, ASessionTheBackendEndsInsideTheTabBarIsSaidOnTheFormASignOutSaysNothing) {
  auto login = showLogin();
  reply("Tablet/GetCurriculums", 401, "{}");
  const std::string expiredAlert = "Your session has expired. Please sign in again. | -";
  // A 401 inside the tab bar, the sign-out button, a 401 while the form shows: one alert or none.
  for (const auto& pass : {std::pair{true, true}, {false, true}, {true, false}}) {
    // Plain copies: clang 14 captures no structured binding in the lambdas below.
    const bool expired = pass.first, inTabBar = pass.second;
    manager()->setAuthenticationType(AuthenticationType::Basic);
    manager()->setAccessToken("basic-1");
    auto tabs = std::make_shared<UITabBarController>();
    if (inTabBar) login->presentViewController(tabs, false);
    time.runUntilIdle();
    if (expired) {
      auto& on = inTabBar ? static_cast<UIViewController&>(*tabs) : *login;
      ServiceLocator::shared().lectureService()->getCurriculums(
          1, [](const auto&) {}, [&on](const std::string& message) { showAlert(on, message); });
    } else {
      manager()->logout();
    }
    ASSERT_TRUE(time.runUntil([&] { return !tabBarShown() && (!expired || alert()); }, 10));
    time.runUntilIdle();
    EXPECT_EQ(expired ? answerAlert() : "(no alert)", expired ? expiredAlert : "(no alert)");
    EXPECT_EQ(alert(), nullptr) << "one alert at most, " << expired << inTabBar;
  }
}

TEST_F(LoginScreenTest, ATokenTheKeychainRefusesIsSaidOnTheFormNotAsAnExpiredSession) {
  const auto keychain = std::make_shared<RefusingKeychainStore>(KeychainFailure{"/ro/keychain", "Read-only file system"});
  KeychainStore::setCurrent(keychain);
  keychain->setRefusing(true);
  auto login = showLogin();
  reply("Account/TabletLogin", 200, R"({"token":"t1"})");
  // What the backend answers a profile load without the token.
  replyProfile({{401, "{}"}});
  login->emailTextField.lock()->setText("ada@example.com");
  login->passwordTextField.lock()->setText("secret1");
  testing::internal::CaptureStderr();
  for (int attempt = 0; attempt < 2; ++attempt) {
    login->loginButton.lock()->tap();
    EXPECT_EQ(answerAlert(), "Your sign-in could not be saved in /ro/keychain (Read-only file system). | -");
  }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::tuple(tabBarShown(), requestsTo("/api/Tablet/GetUserProfile").size()), std::tuple(false, 0u));
  const std::string line =
      "dorvale: cannot save the sign-in in /ro/keychain (Read-only file system): it was not kept\n";
  EXPECT_NE(said.find(line), std::string::npos) << said;
  EXPECT_EQ(said.find(line), said.rfind(line)) << "once per run and cause";
}

}  // namespace
