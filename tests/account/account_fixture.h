#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "account/login_view_controller.h"
#include "app/progress_indicator_helper.h"
#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/http/manager.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/controller_test_support.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_window.h"
#include "services/service_locator.h"
#include "signin/daz_sign_in.h"
#include "signin/daz_sign_in_flow.h"
#include "support/fake_backend.h"

// The main tab bar, telling the test the moment it is about to show.
class ProbeTabBar : public UITabBarController {
 public:
  explicit ProbeTabBar(const NSCoder& coder) : UITabBarController(coder) {}
  void viewWillAppear(bool animated) override {
    UITabBarController::viewWillAppear(animated);
    if (onAppear) onAppear();
  }
  static inline std::function<void()> onAppear;
};

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

// The real "Startup" storyboard in a window, its screens over the services, the provider doubles
// and the fake backend (the Graph API under "graph/").
class AccountTest : public ControllerTest {
 protected:
  void SetUp() override {
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    registerViewControllerClass<ProbeTabBar>("ProbeTabBar");
    UIStoryboard::registerStoryboard("Main", "tabs", {{"tabs", "ProbeTabBar", {}, {}, {}}});
    registerStartupStoryboard();
    FBSDKSettings::setGraphAPIVersion("");
    ServiceLocator::setUpForTesting({std::make_shared<MemoryKeychainStore>(),
                                     Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration()),
                                     server.url("api/"), facebook, server.url("graph/"), zedodo, nullptr});
  }
  void TearDown() override {
    ProbeTabBar::onAppear = nullptr;
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    window.reset();
    ServiceLocator::tearDownForTesting();
    UIStoryboard::unregisterStoryboard("Startup");
    UIStoryboard::unregisterStoryboard("Main");
    Bundle::setMainResourcePath(std::nullopt);
    DAZSignIn::sharedInstance()->setFlow(nullptr);
    FBSDKLoginDialogPresenter::setCurrent(nullptr);
    FBSDKAccessToken::setCurrentAccessToken(nullptr);
    FBSDKSettings::setGraphBaseURL(std::nullopt);
    FBSDKSettings::setGraphAPIVersion(std::nullopt);
    FBSDKSettings::setAppID(std::nullopt);
  }

  // The app's first screen, on screen.
  std::shared_ptr<LoginViewController> showLogin() {
    window = UIWindow::make();
    window->setRootViewController(UIStoryboard::storyboardWithName("Startup")->instantiateInitialViewController());
    window->makeKeyAndVisible();
    return top<LoginViewController>();
  }
  template <class T>
  std::shared_ptr<T> top() const {
    return std::dynamic_pointer_cast<T>(navigation()->topViewController());
  }
  std::shared_ptr<UINavigationController> navigation() const {
    return std::dynamic_pointer_cast<UINavigationController>(window->rootViewController());
  }
  bool tabBarShown() const {
    return std::dynamic_pointer_cast<UITabBarController>(navigation()->presentedViewController()) != nullptr;
  }
  // The alert at the end of the presented chain, if that is one.
  std::shared_ptr<UIAlertController> alert() const {
    std::shared_ptr<UIViewController> last = window->rootViewController();
    while (auto next = last->presentedViewController()) last = next;
    return std::dynamic_pointer_cast<UIAlertController>(last);
  }
  // Waits for an alert and closes it with OK; its texts as "title | message", "-" for an absent part.
  std::string answerAlert() {
    if (!time.runUntil([&] { return alert() != nullptr; }, 10)) return "(no alert)";
    const auto texts = alert()->title().value_or("-") + " | " + alert()->message().value_or("-");
    alert()->tapActionWithTitle("OK");
    time.runUntilIdle();
    return texts;
  }

  // Answers `method` api/<path> with `status` and the JSON `body`, after `delay` real seconds.
  void reply(const std::string& path, int status, std::string body, double delay = 0, std::string method = "POST") {
    server.reply(std::move(method), "/api/" + path,
                 {.status = status, .body = std::move(body), .contentType = "application/json", .delay = delay});
  }
  void replyProfile(std::vector<std::pair<int, std::string>> answers) {
    std::vector<ScriptedReply> scripted;
    for (auto& [status, body] : answers)
      scripted.push_back({.status = status, .body = std::move(body), .contentType = "application/json"});
    server.replies("GET", "/api/Tablet/GetUserProfile", std::move(scripted));
  }
  nlohmann::json lastBody() const { return nlohmann::json::parse(server.lastRequest()->body, nullptr, false); }
  std::vector<RecordedRequest> requestsTo(const std::string& path) const {
    std::vector<RecordedRequest> found;
    for (const auto& request : server.requests())
      if (request.path == path) found.push_back(request);
    return found;
  }
  static bool overlayShown() { return ProgressIndicatorHelper::instance()->isShown(); }
  static std::shared_ptr<AuthenticationManager> manager() { return ServiceLocator::shared().authenticationManager(); }
  static std::shared_ptr<FBSDKAccessToken> facebookToken(const std::string& token) {
    return std::make_shared<FBSDKAccessToken>(token, std::set<std::string>{}, std::set<std::string>{}, "app", "u1");
  }

  FakeBackend server;
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<RecordingZedodoFlow> zedodo = std::make_shared<RecordingZedodoFlow>();
  std::shared_ptr<ScriptedFacebookDialog> facebook = std::make_shared<ScriptedFacebookDialog>();
};

inline std::string profileJson(bool hasPassword, const std::string& picture = "") {
  return std::string(R"({"firstName":"A","lastName":"B","id":"1","userName":"a@b.c","hasPassword":)") +
         (hasPassword ? "true" : "false") + R"(,"hasFacebook":true,"hasZedodo":false)" +
         (picture.empty() ? "" : R"(,"profilePicturePath":")" + picture + "\"") + "}";
}
