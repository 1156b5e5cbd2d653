#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "account_fixture.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "signin/daz_sign_in.h"
#include "signin/daz_sign_in_flow.h"

// A Zedodo sign-in that only records what it was asked.
struct RecordingZedodoFlow : DAZSignInFlow {
  void signIn(const std::shared_ptr<DAZSignInUIDelegate>&, Completion) override { calls.push_back("signIn"); }
  void signInSilently(Completion) override { calls.push_back("signInSilently"); }
  bool handleURL(const URL&, const std::optional<std::string>&, const std::optional<Value>&) override { return false; }
  bool hasAuthInKeychain() const override { return inKeychain; }
  void signOut() override {}

  bool inKeychain = false;
  std::vector<std::string> calls;
};

// A Facebook dialog that answers with the scripted outcome.
struct ScriptedFacebookDialog : FBSDKLoginDialogPresenter {
  void presentLoginDialog(const Request&, Completion completion) override { completion(result, error); }
  std::shared_ptr<FBSDKLoginManagerLoginResult> result;
  std::optional<NSError> error;
};

// The account screens with the provider doubles, the Graph API under "graph/" of the fake backend,
// and helpers that walk whatever is presented.
class AccountFlowTest : public AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    DAZSignIn::sharedInstance()->setFlow(zedodo);
    FBSDKLoginDialogPresenter::setCurrent(facebook);
    FBSDKSettings::setGraphBaseURL(server.url("graph/"));
    FBSDKSettings::setGraphAPIVersion("");
  }
  void TearDown() override {
    AccountTest::TearDown();
    DAZSignIn::sharedInstance()->setFlow(nullptr);
    FBSDKLoginDialogPresenter::setCurrent(nullptr);
    FBSDKAccessToken::setCurrentAccessToken(nullptr);
    FBSDKSettings::setGraphBaseURL(std::nullopt);
    FBSDKSettings::setGraphAPIVersion(std::nullopt);
  }

  static std::shared_ptr<AuthenticationManager> manager() { return ServiceLocator::shared().authenticationManager(); }
  static std::shared_ptr<FBSDKAccessToken> facebookToken(const std::string& token) {
    return std::make_shared<FBSDKAccessToken>(token, std::set<std::string>{}, std::set<std::string>{}, "app", "u1");
  }
  // The last controller of the presented chain under the window's root.
  std::shared_ptr<UIViewController> topPresented() const {
    std::shared_ptr<UIViewController> top = window->rootViewController();
    while (auto next = top->presentedViewController()) top = next;
    return top;
  }
  // The open alert anywhere in the chain as "title | message"; "(no alert)" without one.
  std::string openAlert() const {
    auto open = std::dynamic_pointer_cast<UIAlertController>(topPresented());
    return open ? open->title().value_or("-") + " | " + open->message().value_or("-") : "(no alert)";
  }
  // Waits for an alert, taps its OK and returns its texts.
  std::string answerAlert() {
    EXPECT_TRUE(
        time.runUntil([&] { return std::dynamic_pointer_cast<UIAlertController>(topPresented()) != nullptr; }, 10));
    auto texts = openAlert();
    if (auto open = std::dynamic_pointer_cast<UIAlertController>(topPresented())) open->tapActionWithTitle("OK");
    time.runUntilIdle();
    return texts;
  }
  bool tabBarShown() const { return navigation()->presentedViewController() != nullptr && !alert(); }
  void replyProfile(std::vector<std::pair<int, std::string>> answers) {
    std::vector<ScriptedReply> scripted;
    for (auto& [status, body] : answers)
      scripted.push_back({.status = status, .body = std::move(body), .contentType = "application/json"});
    server.replies("GET", "/api/Tablet/GetUserProfile", std::move(scripted));
  }
  std::size_t requestsTo(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path;
    return count;
  }

  std::shared_ptr<RecordingZedodoFlow> zedodo = std::make_shared<RecordingZedodoFlow>();
  std::shared_ptr<ScriptedFacebookDialog> facebook = std::make_shared<ScriptedFacebookDialog>();
};

inline std::string profileJson(bool hasPassword, const std::string& picture = "") {
  return std::string(R"({"firstName":"A","lastName":"B","id":"1","userName":"a@b.c","hasPassword":)") +
         (hasPassword ? "true" : "false") + R"(,"hasFacebook":true,"hasZedodo":false)" +
         (picture.empty() ? "" : R"(,"profilePicturePath":")" + picture + "\"") + "}";
}
