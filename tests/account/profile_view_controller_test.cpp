#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "account/profile_view_controller.h"
#include "account_fixture.h"
#include "platform/ui/ui_image_picker_controller.h"

namespace {

// The "Main" storyboard's profile screen alone in a window, over an e-mail sign-in.
class ProfileScreenTest : public AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    registerMainStoryboard();
  }
  std::shared_ptr<ProfileViewController> showProfile(const std::string& profile) {
    auto screen = present({{200, profile}});
    EXPECT_TRUE(time.runUntil([&] { return screen->user() != nullptr; }, 10));
    time.runUntilIdle();
    return screen;
  }
  // The screen in a window over an e-mail sign-in, its profile fetches answered with `answers`.
  std::shared_ptr<ProfileViewController> present(std::vector<std::pair<int, std::string>> answers) {
    replyProfile(std::move(answers));
    manager()->setAuthenticationType(AuthenticationType::Basic);
    manager()->setAccessToken("basic-1");
    auto screen = std::dynamic_pointer_cast<ProfileViewController>(
        UIStoryboard::storyboardWithName("Main")->instantiateViewControllerWithIdentifier("profile"));
    window = UIWindow::make();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    return screen;
  }
  // Types the current, the new and the confirming password, then taps the button.
  static void submit(ProfileViewController& screen, const std::array<std::string, 3>& texts) {
    screen.oldPasswordTextField.lock()->setText(texts[0]);
    screen.newPasswordTextField.lock()->setText(texts[1]);
    screen.confirmPasswordTextField.lock()->setText(texts[2]);
    screen.changePasswordButtonTap(*screen.changePasswordButton.lock());
  }
};

// Every rule broken at once is the profile console script's.
TEST_F(ProfileScreenTest, EveryBrokenPasswordRuleIsALineOfOneAlert) {
  const std::string fresh = "The new password must be at least 6 characters long.",
                    mismatch = "The two new passwords do not match.";
  const std::vector<std::tuple<bool, std::array<std::string, 3>, std::string>> cases = {
      {true, {"x", "secret1", "secret2"}, mismatch},
      {false, {"", "secret", ""}, "Please confirm your new password.\n" + mismatch},
      {false, {"", "abc", "abc"}, fresh},
  };
  for (const auto& [hasPassword, texts, message] : cases) {
    auto screen = showProfile(profileJson(hasPassword));
    submit(*screen, texts);
    EXPECT_EQ(answerAlert(), "Please check your input | " + message);
  }
  EXPECT_EQ(
      requestsTo("/api/Account/TabletChangePassword").size() + requestsTo("/api/Account/TabletAddPassword").size(), 0u);
}

TEST_F(ProfileScreenTest, ANewPasswordIsSentAsTypedAndAddingSwitchesTheFormOnceTheProfileIsBack) {
  auto screen = showProfile(profileJson(true));
  reply("Account/TabletChangePassword", 200, R"({"token":"t2"})");
  submit(*screen, {"old", " abcde", " abcde"});
  EXPECT_EQ(answerAlert(), "Your password has been changed. | -");
  EXPECT_EQ(lastBody().value("newPassword", ""), " abcde");

  screen = showProfile(profileJson(false));
  EXPECT_TRUE(screen->oldPasswordTextField.lock()->isHidden());
  EXPECT_EQ(screen->changePasswordButton.lock()->titleForState(UIControlState::Normal), "Add password");
  reply("Account/TabletAddPassword", 200, R"({"token":"t3"})");
  replyProfile({{200, profileJson(true)}});
  submit(*screen, {"kept", "secret1", "secret1"});
  ASSERT_TRUE(time.runUntil([&] { return alert() != nullptr; }, 10));
  EXPECT_FALSE(screen->oldPasswordTextField.lock()->isHidden()) << "shown when the alert opens";
  EXPECT_EQ(answerAlert(), "Your password has been added. | -");
  ASSERT_TRUE(time.runUntil([&] { return screen->user()->hasPassword(); }, 10));
  EXPECT_EQ(screen->changePasswordButton.lock()->titleForState(UIControlState::Normal), "Change password");
  EXPECT_EQ(std::tuple(*screen->oldPasswordTextField.lock()->text(), *screen->newPasswordTextField.lock()->text(),
                       *screen->confirmPasswordTextField.lock()->text()),
            std::tuple("kept", "", ""));
}

TEST_F(ProfileScreenTest, APickedPictureIsUploadedInTheFormatOfItsExactExtension) {
  auto screen = showProfile(profileJson(true, "bad path%"));
  EXPECT_EQ(screen->profilePictureImageView.lock()->image(), nullptr) << "a path that is no URL loads nothing";
  EXPECT_TRUE(screen->modifyFbButton.lock()->isHidden()) << "linking a provider is not offered";
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
  auto pick = [&](const std::shared_ptr<UIImage>& picked, const std::string& file) {
    screen->profilePictureTap(*screen->view()->gestureRecognizers().front());
    auto picker = std::dynamic_pointer_cast<UIImagePickerController>(screen->presentedViewController());
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceType::PhotoLibrary);
    picker->pickImage(picked, *URL::URLWithString("assets-library://asset/" + file + "?id=1"));
    time.runUntilIdle();
    EXPECT_NE(screen->presentedViewController(), picker) << "the picker closed";
  };
  for (const auto& [file, picked, upload] : cases) {
    SCOPED_TRACE(file);
    server.clearRequests();
    screen->profilePictureImageView.lock()->setImage(nullptr);
    pick(picked, file);
    if (upload.empty()) {
      EXPECT_EQ(alert(), nullptr);
      EXPECT_EQ(server.requestCount(), 0u);
      continue;
    }
    EXPECT_EQ(answerAlert(), "Your profile picture has been changed. | -");
    ASSERT_EQ(server.lastRequest()->parts.size(), 1u);
    EXPECT_EQ(server.lastRequest()->parts[0].filename, upload);
    EXPECT_EQ(screen->profilePictureImageView.lock()->image(), picked);
  }

  reply("Account/TabletUploadProfilePicture", 500, R"({"errorMessage":"Too large"})");
  pick(UIImage::make(CGSize{3, 3}), "asset.PNG");
  EXPECT_EQ(answerAlert(), "Too large | -");
  EXPECT_EQ(screen->profilePictureImageView.lock()->image(), nullptr) << "a rejected upload keeps the old picture";
}

TEST_F(ProfileScreenTest, AProfileThatCouldNotBeFetchedIsFetchedAgainWhenTheScreenAppears) {
  auto screen = present({{500, "{}"}, {200, profileJson(true)}});
  answerAlert();
  EXPECT_EQ(screen->changePasswordButton.lock()->currentTitle(), "Password");
  // Appearing again while the fetch runs asks nothing more; once it failed, it asks again.
  for (int appearance = 0; appearance < 2; ++appearance) screen->viewWillAppear(false);
  ASSERT_TRUE(time.runUntil([&] { return screen->user() != nullptr; }, 10));
  screen->viewWillAppear(false);
  time.runUntilIdle();
  EXPECT_EQ(requestsTo("/api/Tablet/GetUserProfile").size(), 2u);
  EXPECT_EQ(screen->changePasswordButton.lock()->currentTitle(), "Change password");
}

}  // namespace
