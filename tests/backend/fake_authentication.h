#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backend/transfer_coordinator.h"
#include "platform/foundation/run_loop.h"
#include "platform/frameworks/xcg_logger.h"
#include "platform/http/manager.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

// The sign-in state as the transfer coordinator sees it, scripted.
class FakeAuthentication : public AuthenticationManaging {
 public:
  std::optional<AuthenticationType> authenticationType() const override { return type; }
  std::optional<std::string> accessToken() const override { return access; }
  std::optional<std::string> fbToken() const override { return fb; }
  void refreshZedodoToken(std::function<void(std::string)> success, std::function<void(NSError)> failure) override {
    ++refreshes;
    RunLoop::main().post(
        [token = zedodo, error = refreshError, success, failure] { token ? success(*token) : failure(error); });
  }
  void logout(std::function<void()> completion) override {
    ++logouts;
    type.reset();
    if (completion) completion();
  }

  std::optional<AuthenticationType> type;
  std::optional<std::string> access;
  std::optional<std::string> fb;
  std::optional<std::string> zedodo;  // what a refresh gives; nothing makes it fail with refreshError
  NSError refreshError = TransferCoordinator::notSignedInError();
  int refreshes = 0;
  int logouts = 0;
};

// A coordinator over a real client and a local fake server, signed in as scripted; the log texts
// it writes are kept in `logged`.
class CoordinatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    coordinator->setAuthenticationManager(auth);
    XCGLogger::defaultInstance().setSink(
        [this](XCGLogger::LogLevel, const std::string&, const std::string& text) { logged.push_back(text); });
  }
  void TearDown() override { XCGLogger::defaultInstance().setSink(nullptr); }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<Manager> client = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
  std::shared_ptr<TransferCoordinator> coordinator = std::make_shared<TransferCoordinator>(client);
  std::shared_ptr<FakeAuthentication> auth = std::make_shared<FakeAuthentication>();
  std::vector<std::string> logged;
};
