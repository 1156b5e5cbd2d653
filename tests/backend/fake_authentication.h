#pragma once

#include <functional>
#include <optional>
#include <string>

#include "backend/transfer_coordinator.h"
#include "platform/foundation/run_loop.h"

// The sign-in state as the transfer coordinator sees it, scripted.
class FakeAuthentication : public AuthenticationManaging {
 public:
  std::optional<AuthenticationType> authenticationType() const override { return type; }
  std::optional<std::string> accessToken() const override { return access; }
  std::optional<std::string> fbToken() const override { return fb; }
  void refreshZedodoToken(std::function<void(std::string)> success, std::function<void()> failure) override {
    ++refreshes;
    RunLoop::main().post([token = zedodo, success, failure] { token ? success(*token) : failure(); });
  }
  void logout(std::function<void()> completion) override {
    ++logouts;
    type.reset();
    if (completion) completion();
  }

  std::optional<AuthenticationType> type;
  std::optional<std::string> access;
  std::optional<std::string> fb;
  std::optional<std::string> zedodo;  // what a refresh gives; nothing makes it fail
  int refreshes = 0;
  int logouts = 0;
};
