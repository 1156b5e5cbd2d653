#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backend/error_handler.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/http/manager.h"
#include "platform/keychain/keychain_wrapper.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/ui_storyboard.h"
#include "services/service_locator.h"
#include "signin/daz_sign_in.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

using Texts = std::vector<std::string>;

// The login screen as the authentication manager drives it: the calls in order.
struct RecordingSessionDelegate : SessionDelegate {
  void userDidLogout() override { calls.push_back("userDidLogout"); }
  // Registration prompts with every value they carry; a missing picture reads "-".
  void userMustRegister(const std::string& name, const std::string& email, const std::optional<URL>& picture) override {
    prompts.push_back({name, email, picture ? picture->absoluteString() : "-"});
  }
  void userMustRegister(const std::string& firstName, const std::string& lastName, const std::string& email,
                        const std::optional<URL>& picture) override {
    prompts.push_back({firstName, lastName, email, picture ? picture->absoluteString() : "-"});
  }
  void userSignedInWithZedodo() override { calls.push_back("userSignedInWithZedodo"); }
  void zedodoSigninError(const std::string& error) override { calls.push_back("zedodoSigninError " + error); }

  std::vector<std::string> calls;
  std::vector<std::vector<std::string>> prompts;
};

// A Zedodo sign-in that delivers `user` at once.
struct ScriptedZedodoFlow : DAZSignInFlow {
  void signIn(const std::shared_ptr<DAZSignInUIDelegate>&, Completion completion) override { completion(user, error); }
  void signInSilently(Completion completion) override { completion(user, error); }
  bool handleURL(const URL&, const std::optional<std::string>&, const std::optional<Value>&) override { return false; }
  bool hasAuthInKeychain() const override { return user != nullptr; }
  void signOut() override { ++signOuts; }

  std::shared_ptr<DAZZedodoUser> user;
  std::optional<NSError> error;
  int signOuts = 0;
};

// Refreshes on request, answered by the test.
struct ScriptedRefresher : DAZTokenRefresher {
  void refreshAccessToken(const std::string&, Completion completion) override { pending.push_back(completion); }
  std::vector<Completion> pending;
};

// A Facebook login dialog that answers with the scripted outcome.
struct ScriptedFacebookDialog : FBSDKLoginDialogPresenter {
  void presentLoginDialog(const Request& request, Completion completion) override {
    requests.push_back(request);
    completion(result, error);
  }
  std::shared_ptr<FBSDKLoginManagerLoginResult> result;
  std::optional<NSError> error;
  std::vector<Request> requests;
};

// The shared locator over the fake backend (also standing in for the Graph API under "graph/"),
// an in-memory keychain and the Facebook and Zedodo doubles.
class BackendFixture : public testing::Test {
 protected:
  void SetUp() override {
    registerStoryboards();
    FBSDKSettings::setGraphAPIVersion("");
    ServiceLocator::setUpForTesting({keychain, client, server.url("BrevantTest/"), facebookDialog, server.url("graph/"),
                                     zedodoFlow, viewControllerFactory});
    manager()->setSessionDelegate(sessionDelegate);
  }

  void TearDown() override {
    ServiceLocator::tearDownForTesting();
    UIStoryboard::unregisterStoryboard("Main");
    FBSDKLoginDialogPresenter::setCurrent(nullptr);
    FBSDKSettings::setGraphBaseURL(std::nullopt);
    FBSDKSettings::setGraphAPIVersion(std::nullopt);
    DAZSignIn::sharedInstance()->signOut();
    DAZSignIn::sharedInstance()->setFlow(nullptr);
    FBSDKAccessToken::setCurrentAccessToken(nullptr);
    // Unanswered refreshes hold their authentication, which holds the refresher.
    refresher->pending.clear();
    time.runUntilIdle();
  }

  // The storyboards the locator's screen factory finds when it is made; a fixture may set
  // `viewControllerFactory` here to stand in for it.
  virtual void registerStoryboards() { UIStoryboard::registerStoryboard("Main", std::nullopt, {}); }

  static ServiceLocator& locator() { return ServiceLocator::shared(); }
  static const std::shared_ptr<AuthenticationManager>& manager() { return locator().authenticationManager(); }
  // "<method> <access token> <Facebook token> <Zedodo token>", "-" for what is not there.
  static std::string signInState() {
    const auto type = manager()->authenticationType();
    const char* names[] = {"Basic", "Facebook", "Zedodo"};
    std::string text = type ? names[static_cast<int>(*type)] : "-";
    for (const auto& token : {manager()->accessToken(), manager()->fbToken(), manager()->zedodoToken()})
      text += " " + token.value_or("-");
    return text;
  }

  // Answers POST (or `method`) BrevantTest/<path> with `status` and the JSON `body`.
  void reply(const std::string& path, int status, std::string body, const std::string& method = "POST") {
    server.reply(method, "/BrevantTest/" + path,
                 {.status = status, .body = std::move(body), .contentType = "application/json"});
  }

  void signInBasic(const std::string& token = "tok") {
    manager()->setAccessToken(token);
    manager()->setAuthenticationType(AuthenticationType::Basic);
  }

  // What a call answered: success texts or the failure message, in order.
  struct Outcome {
    int successes = 0;
    std::vector<std::string> failures;
    int answers() const { return successes + static_cast<int>(failures.size()); }
  };
  std::function<void()> succeed(Outcome& outcome) {
    return [&outcome] { ++outcome.successes; };
  }
  std::function<void(const std::string&)> fail(Outcome& outcome) {
    return [&outcome](const std::string& message) { outcome.failures.push_back(message); };
  }
  // Makes `call` with recording closures and waits for its answer.
  Outcome answer(const std::function<void(std::function<void()>, std::function<void(const std::string&)>)>& call) {
    Outcome outcome;
    call(succeed(outcome), fail(outcome));
    waitForAnswer(outcome);
    return outcome;
  }
  // `answer` for a call whose success hands over a value, which lands in `value`.
  template <class T, class Call>
  Outcome answerInto(T& value, Call call) {
    return answer([&](auto ok, auto ko) { call([&value, ok](const T& given) { value = given, ok(); }, ko); });
  }
  // A whole user profile; `extra` adds or overrides members.
  static std::string profileJson(const nlohmann::json& extra = nlohmann::json::object()) {
    nlohmann::json profile = {{"firstName", "Ada"},       {"lastName", "Byron"},  {"id", "u1"},
                              {"userName", "ada@x.test"}, {"hasFacebook", false}, {"hasZedodo", false},
                              {"hasPassword", true}};
    profile.update(extra);
    return profile.dump();
  }
  // A Zedodo user made current by the component, its token "z1" valid for `validFor` seconds.
  void zedodoSignsIn(std::shared_ptr<DAZProfileData> profile = nullptr, TimeInterval validFor = 3600) {
    auto auth = std::make_shared<DAZAuthentication>("client", "z1", time.now().dateByAddingTimeInterval(validFor),
                                                    "refresh", refresher);
    zedodoFlow->user = std::make_shared<DAZZedodoUser>("zu", auth, std::move(profile));
    DAZSignIn::sharedInstance()->signIn();
    time.runUntilIdle();
    ASSERT_NE(DAZSignIn::sharedInstance()->currentUser(), nullptr);
  }
  void signInFacebook(const std::string& token = "fb1") {
    manager()->setFbToken(token);
    manager()->setAuthenticationType(AuthenticationType::Facebook);
  }

  // Runs the main loop until `done`; every network answer arrives there.
  void waitFor(const std::function<bool()>& done) { ASSERT_TRUE(time.runUntil(done, 10)); }
  void waitForAnswer(const Outcome& outcome) {
    waitFor([&] { return outcome.answers() > 0; });
    // Anything else that would answer a second time has arrived by now.
    time.runUntilIdle();
  }
  // The last request's JSON body.
  nlohmann::json lastBody() const {
    auto request = server.lastRequest();
    return request ? nlohmann::json::parse(request->body, nullptr, false) : nlohmann::json();
  }

  static const std::string& networkMessage() { return ErrorMessages::networkErrorMessage(); }
  static const std::string& unauthorizedMessage() { return ErrorMessages::unauthorizedMessage(); }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<MemoryKeychainStore> keychain = std::make_shared<MemoryKeychainStore>();
  std::shared_ptr<Manager> client = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
  std::shared_ptr<ScriptedRefresher> refresher = std::make_shared<ScriptedRefresher>();
  std::shared_ptr<ScriptedFacebookDialog> facebookDialog = std::make_shared<ScriptedFacebookDialog>();
  std::shared_ptr<ScriptedZedodoFlow> zedodoFlow = std::make_shared<ScriptedZedodoFlow>();
  std::shared_ptr<RecordingSessionDelegate> sessionDelegate = std::make_shared<RecordingSessionDelegate>();
  std::shared_ptr<MainViewControllerFactory> viewControllerFactory;
};
