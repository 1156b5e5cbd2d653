#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/keychain/keychain_store.h"
#include "platform/keychain/memory_keychain_store.h"
#include "services/session_delegate.h"
#include "signin/daz_sign_in.h"

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
