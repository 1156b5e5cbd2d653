#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "account/profile_view_controller.h"
#include "account_flows.h"
#include "platform/ui/ui_image_picker_controller.h"
#include "platform/ui/ui_tab_bar_controller.h"

namespace {

// The profile tab of the real "Main" storyboard, reached by a restored e-mail sign-in.
class ProfileScreenTest : public AccountFlowTest {
 protected:
  void SetUp() override {
    AccountFlowTest::SetUp();
    // The services take the storyboard as they are made: again, over the real "Main".
    registerMainStoryboard();
    ServiceLocator::tearDownForTesting();
    ServiceLocator::TestDoubles doubles;
    doubles.keychainStore = std::make_shared<MemoryKeychainStore>();
    doubles.httpClient = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
    doubles.backendUrl = server.url("api/");
    ServiceLocator::setUpForTesting(std::move(doubles));
  }
  std::shared_ptr<ProfileViewController> showProfile(const std::string& profile) {
    replyProfile({{200, profile}});
    manager()->setAuthenticationType(AuthenticationType::Basic);
    manager()->setAccessToken("basic-1");
    showLogin();
    EXPECT_TRUE(time.runUntil([&] { return tabBarShown(); }, 10));
    auto tabs = std::dynamic_pointer_cast<UITabBarController>(navigation()->presentedViewController());
    tabs->setSelectedIndex(4);
    auto nav = std::dynamic_pointer_cast<UINavigationController>(tabs->selectedViewController());
    auto profileScreen = std::dynamic_pointer_cast<ProfileViewController>(nav->topViewController());
    profileScreen->loadViewIfNeeded();
    EXPECT_TRUE(time.runUntil([&] { return profileScreen->user() != nullptr; }, 10));
    time.runUntilIdle();
    return profileScreen;
  }
  static void type(ProfileViewController& screen, const std::string& old, const std::string& fresh,
                   const std::string& confirmation) {
    screen.oldPasswordTextField.lock()->setText(old);
    screen.newPasswordTextField.lock()->setText(fresh);
    screen.confirmPasswordTextField.lock()->setText(confirmation);
  }
  static std::vector<std::string> fields(ProfileViewController& screen) {
    return {*screen.oldPasswordTextField.lock()->text(), *screen.newPasswordTextField.lock()->text(),
            *screen.confirmPasswordTextField.lock()->text()};
  }
};

TEST_F(ProfileScreenTest, ShowsTheProfileAndKeepsThePictureWhenThePathIsNoUrl) {
  auto screen = showProfile(profileJson(true, "bad path%"));
  EXPECT_EQ(screen->nameLabel.lock()->text(), "B A");
  EXPECT_EQ(screen->emailLabel.lock()->text(), "a@b.c");
  EXPECT_FALSE(screen->oldPasswordTextField.lock()->isHidden());
  EXPECT_TRUE(screen->modifyFbButton.lock()->isHidden());
  EXPECT_EQ(screen->profilePictureImageView.lock()->image(), nullptr);
  EXPECT_EQ(screen->profilePictureImageView.lock()->layer().cornerRadius, 94);
}

TEST_F(ProfileScreenTest, EveryBrokenPasswordRuleIsALineOfOneAlert) {
  const std::string old = "Please enter your current password.",
                    fresh = "The new password must be at least 6 characters long.",
                    confirm = "Please confirm your new password.", mismatch = "The two new passwords do not match.";
  const std::vector<std::tuple<bool, std::array<std::string, 3>, std::string>> cases = {
      {true, {"", "", ""}, old + "\n" + fresh + "\n" + confirm},
      {true, {"x", "secret1", "secret2"}, mismatch},
      {false, {"", "secret", ""}, confirm + "\n" + mismatch},
      {false, {"", "abc", "abc"}, fresh},
  };
  for (bool hasPassword : {true, false}) {
    auto screen = showProfile(profileJson(hasPassword));
    for (const auto& [mode, texts, message] : cases) {
      if (mode != hasPassword) continue;
      type(*screen, texts[0], texts[1], texts[2]);
      screen->changePasswordButtonTap(*screen->changePasswordButton.lock());
      EXPECT_EQ(answerAlert(), "Please check your input | " + message);
    }
  }
  EXPECT_EQ(requestsTo("/api/Account/TabletChangePassword") + requestsTo("/api/Account/TabletAddPassword"), 0u);
}

TEST_F(ProfileScreenTest, ChangingClearsThreeFieldsAndAddingSwitchesTheFormOnceTheProfileIsBack) {
  auto screen = showProfile(profileJson(true));
  reply("Account/TabletChangePassword", 200, R"({"token":"t2"})");
  type(*screen, "old", " abcde", " abcde");
  screen->changePasswordButtonTap(*screen->changePasswordButton.lock());
  EXPECT_EQ(answerAlert(), "Your password has been changed. | -");
  EXPECT_EQ(lastBody().value("newPassword", ""), " abcde") << "sent as typed";
  EXPECT_EQ(fields(*screen), (std::vector<std::string>{"", "", ""}));

  screen = showProfile(profileJson(false));
  EXPECT_TRUE(screen->oldPasswordTextField.lock()->isHidden());
  EXPECT_EQ(screen->changePasswordButton.lock()->titleForState(UIControlState::Normal), "Add password");
  reply("Account/TabletAddPassword", 200, R"({"token":"t3"})");
  replyProfile({{200, profileJson(true)}});
  type(*screen, "kept", "secret1", "secret1");
  screen->changePasswordButtonTap(*screen->changePasswordButton.lock());
  ASSERT_TRUE(time.runUntil([&] { return openAlert() != "(no alert)"; }, 10));
  EXPECT_FALSE(screen->oldPasswordTextField.lock()->isHidden()) << "shown when the alert opens";
  EXPECT_EQ(answerAlert(), "Your password has been added. | -");
  ASSERT_TRUE(time.runUntil([&] { return screen->user()->hasPassword(); }, 10));
  EXPECT_EQ(screen->changePasswordButton.lock()->titleForState(UIControlState::Normal), "Change password");
  EXPECT_EQ(fields(*screen), (std::vector<std::string>{"kept", "", ""}));
}

TEST_F(ProfileScreenTest, APickedPictureIsUploadedInTheFormatOfItsExactExtension) {
  auto screen = showProfile(profileJson(true));
  reply("Account/TabletUploadProfilePicture", 200, "null");
  const auto image = UIImage::make(CGSize{2, 2});
  const std::vector<std::tuple<std::string, std::shared_ptr<UIImage>, std::string>> cases = {
      {"asset.JPG", image, "profilePic.JPEG"},
      {"asset.JPEG", image, "profilePic.JPEG"},
      {"asset.PNG", image, "profilePic.PNG"},
      {"asset.jpg", image, ""},
      {"asset.GIF", image, ""},
      {"asset.PNG", UIImage::make(), ""},
  };
  for (const auto& [file, picked, upload] : cases) {
    server.clearRequests();
    screen->profilePictureImageView.lock()->setImage(nullptr);
    screen->profilePictureTap(*screen->view()->gestureRecognizers().front());
    auto picker = std::dynamic_pointer_cast<UIImagePickerController>(screen->presentedViewController());
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceType::PhotoLibrary);
    picker->pickImage(picked, *URL::URLWithString("assets-library://asset/" + file + "?id=1"));
    time.runUntilIdle();
    if (upload.empty()) {
      EXPECT_EQ(openAlert(), "(no alert)") << file;
      EXPECT_EQ(screen->presentedViewController(), nullptr) << "the picker closed";
      EXPECT_EQ(server.requestCount(), 0u) << file;
      continue;
    }
    EXPECT_EQ(answerAlert(), "Your profile picture has been changed. | -");
    ASSERT_EQ(server.lastRequest()->parts.size(), 1u);
    EXPECT_EQ(server.lastRequest()->parts[0].filename, upload);
    EXPECT_EQ(screen->profilePictureImageView.lock()->image(), picked);
  }

  reply("Account/TabletUploadProfilePicture", 500, R"({"errorMessage":"Too large"})");
  screen->profilePictureTap(*screen->view()->gestureRecognizers().front());
  std::dynamic_pointer_cast<UIImagePickerController>(screen->presentedViewController())
      ->pickImage(UIImage::make(CGSize{3, 3}), *URL::URLWithString("assets-library://asset/asset.PNG"));
  EXPECT_EQ(answerAlert(), "Too large | -");
  EXPECT_EQ(screen->profilePictureImageView.lock()->image(), nullptr) << "a rejected upload keeps the old picture";
}

TEST_F(ProfileScreenTest, LoggingOutReturnsToTheLoginForm) {
  auto screen = showProfile(profileJson(true));
  screen->logOutButton.lock()->tap();
  time.runUntilIdle();
  EXPECT_EQ(navigation()->presentedViewController(), nullptr);
  EXPECT_EQ(manager()->authenticationType(), std::nullopt);
  EXPECT_NE(top<LoginViewController>(), nullptr);
}

}  // namespace
