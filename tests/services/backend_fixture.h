#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backend/error_handler.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/http/manager.h"
#include "platform/keychain/keychain_wrapper.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/ui_storyboard.h"
#include "services/service_locator.h"
#include "services_test_support.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

using Texts = std::vector<std::string>;

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
    UIStoryboard::registerStoryboard("Main", std::nullopt, {});
    FBSDKSettings::setGraphAPIVersion("");
    ServiceLocator::setUpForTesting({keychain, Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration()),
                                     server.url("BrevantTest/"), facebookDialog, server.url("graph/"), zedodoFlow});
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
  }

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
  // A whole user profile; `extra` adds or overrides members.
  static std::string profileJson(const nlohmann::json& extra = nlohmann::json::object()) {
    nlohmann::json profile = {{"firstName", "Ada"},       {"lastName", "Byron"},  {"id", "u1"},
                              {"userName", "ada@x.test"}, {"hasFacebook", false}, {"hasZedodo", false},
                              {"hasPassword", true}};
    profile.update(extra);
    return profile.dump();
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
  std::shared_ptr<ScriptedFacebookDialog> facebookDialog = std::make_shared<ScriptedFacebookDialog>();
  std::shared_ptr<ScriptedZedodoFlow> zedodoFlow = std::make_shared<ScriptedZedodoFlow>();
  std::shared_ptr<RecordingSessionDelegate> sessionDelegate = std::make_shared<RecordingSessionDelegate>();
};
