#include <array>
#include <optional>
#include <string>
#include <vector>

#include "account/register_view_controller.h"
#include "account_fixture.h"

namespace {

using LoginScreenTest = AccountTest;

TEST_F(LoginScreenTest, SmallPhonesGetTheColumnOfTheirHeightBand) {
  struct Case {
    UIUserInterfaceIdiom idiom;
    CGFloat height;
    // loginLogoTopSpace, loginLogoHeight, logoTitleSpace, titleEmailSpace, passwordLoginSpace,
    // loginRegSpace, regFbSpace, fbBottomSpace; the scene's own values are 40 230 8 40 16 8 60 40.
    std::array<CGFloat, 8> constants;
  };
  const auto phone = UIUserInterfaceIdiom::Phone;
  const std::vector<Case> cases = {
      {phone, 499, {25, 100, 0, 6, 8, 0, 36, 4}},
      {phone, 500, {25, 135, 8, 13, 16, 0, 43, 18}},
      {phone, 599, {25, 135, 8, 13, 16, 0, 43, 18}},
      {phone, 600, {23, 196, 8, 25, 16, 8, 50, 31}},
      {phone, 699, {23, 196, 8, 25, 16, 8, 50, 31}},
      {phone, 700, {40, 230, 8, 40, 16, 8, 60, 40}},
      {UIUserInterfaceIdiom::Pad, 499, {40, 230, 8, 40, 16, 8, 60, 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "height " << c.height);
    UIDevice::currentDevice()->setUserInterfaceIdiom(c.idiom);
    UIScreen::mainScreen()->setBounds(CGRectMake(0, 0, 320, c.height));
    auto login = std::dynamic_pointer_cast<LoginViewController>(
        UIStoryboard::storyboardWithName("Startup")->instantiateViewControllerWithIdentifier("login"));
    login->loadViewIfNeeded();
    const std::array<std::weak_ptr<NSLayoutConstraint>, 8> outlets = {
        login->loginLogoTopSpace,  login->loginLogoHeight, login->logoTitleSpace, login->titleEmailSpace,
        login->passwordLoginSpace, login->loginRegSpace,   login->regFbSpace,     login->fbBottomSpace};
    for (std::size_t i = 0; i < outlets.size(); ++i) EXPECT_EQ(outlets[i].lock()->constant(), c.constants[i]) << i;
  }
}

TEST_F(LoginScreenTest, AnInvalidFormIsOneAlertWithALineForEachFailingField) {
  auto login = showLogin();
  const std::string badEmail = "Please enter a valid e-mail address.";
  const std::string shortPassword = "The password must be at least 6 characters long.";
  struct Case {
    std::string email, password, message;
  };
  const std::vector<Case> cases = {{"nobody", "12345", badEmail + "\n" + shortPassword},
                                   {"ada@example.com", "12345", shortPassword},
                                   {"nobody", "123456", badEmail}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.email + " / " + c.password);
    login->emailTextField.lock()->setText(c.email);
    login->passwordTextField.lock()->setText(c.password);
    login->loginButton.lock()->tap();
    time.advance(1);
    EXPECT_EQ(alertTexts(), std::make_pair(std::string("Please check your input"), c.message));
    EXPECT_FALSE(overlayShown());
    closeAlert();
  }
  // A field without any text stops the tap silently.
  login->passwordTextField.lock()->setText(std::nullopt);
  login->loginButton.lock()->tap();
  EXPECT_EQ(alert(), nullptr);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(LoginScreenTest, PasswordRecoveryRunsWithoutOverlayAndAnswersInTheAlertTitle) {
  auto login = showLogin();
  login->emailTextField.lock()->setText("not-an-address");
  login->passwordRecoveryButton.lock()->tap();
  EXPECT_EQ(alertTexts(), std::make_pair(std::string("Please enter a valid e-mail address."), std::string("-")));
  closeAlert();
  EXPECT_EQ(server.requestCount(), 0u);

  reply("Account/TabletPasswordRecovery", 200, "null", 0.3);
  login->emailTextField.lock()->setText(" ada@example.com");
  login->passwordRecoveryButton.lock()->tap();
  time.advance(1);
  EXPECT_FALSE(overlayShown());
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(lastBody(), (nlohmann::json{{"userName", " ada@example.com"}}));
  EXPECT_EQ(alertTexts(),
            std::make_pair(std::string("We have sent you an e-mail to reset your password."), std::string("-")));
  closeAlert();

  reply("Account/TabletPasswordRecovery", 404, R"({"errorMessage":"No such account"})");
  login->passwordRecoveryButton.lock()->tap();
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alertTexts(), std::make_pair(std::string("No such account"), std::string("-")));
  EXPECT_EQ(login->emailTextField.lock()->text(), " ada@example.com");
}

TEST_F(LoginScreenTest, ASlowSignInShowsTheOverlayAndSuccessEmptiesTheFormBeforeTheTabBar) {
  auto login = showLogin();
  reply("Account/TabletLogin", 401, R"({"errorMessage":"Wrong e-mail address or password"})", 0.3);
  login->emailTextField.lock()->setText("ada@example.com");
  login->passwordTextField.lock()->setText("secret1 ");
  login->loginButton.lock()->tap();
  time.advance(0.6);
  EXPECT_TRUE(overlayShown()) << "no answer after half a second";
  waitFor([&] { return alert() != nullptr; });
  EXPECT_FALSE(overlayShown());
  EXPECT_EQ(alertTexts(), std::make_pair(std::string("Wrong e-mail address or password"), std::string("-")));
  EXPECT_EQ(lastBody(), (nlohmann::json{{"userName", "ada@example.com"}, {"password", "secret1 "}}));
  closeAlert();
  EXPECT_EQ(login->passwordTextField.lock()->text(), "secret1 ") << "a failure keeps the form";

  reply("Account/TabletLogin", 200, R"({"token":"t1"})");
  reply(
      "Tablet/GetUserProfile", 200,
      R"({"firstName":"Ada","lastName":"Byron","id":"1","userName":"ada@example.com","hasPassword":true,"hasFacebook":false,"hasZedodo":false})",
      0, "GET");
  std::vector<std::string> formWhenTabsAppear;
  ProbeTabBar::onAppear = [&] {
    formWhenTabsAppear = {*login->emailTextField.lock()->text(), *login->passwordTextField.lock()->text()};
  };
  login->loginButton.lock()->tap();
  waitFor([&] { return navigation()->presentedViewController() != nullptr; });
  EXPECT_EQ(formWhenTabsAppear, (std::vector<std::string>{"", ""}));
  time.advance(1);
  EXPECT_FALSE(overlayShown()) << "a quick answer never shows the overlay";
  EXPECT_NE(std::dynamic_pointer_cast<ProbeTabBar>(navigation()->presentedViewController()), nullptr);
}

TEST_F(LoginScreenTest, TheRegisterButtonPushesARegistrationThatAnswersToTheLoginScreen) {
  auto login = showLogin();
  login->registerButton.lock()->tap();
  time.runUntilIdle();
  auto registration = top<RegisterViewController>();
  ASSERT_NE(registration, nullptr);
  EXPECT_EQ(registration->loginDelegate(), std::static_pointer_cast<LoginDelegate>(login));
}

}  // namespace
