#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backend/error_handler.h"
#include "platform/foundation/bundle.h"

namespace {

class ErrorHandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    ErrorHandler::setLogoutAction([this] { events.push_back("logout"); });
  }
  void TearDown() override { ErrorHandler::setLogoutAction(nullptr); }

  std::string handle(const std::optional<TransferError<ErrorResponse>>& error) {
    int calls = 0;
    std::string text;
    ErrorHandler::handleError(error, [&](const std::string& message) {
      ++calls;
      text = message;
      events.push_back("callback");
    });
    EXPECT_EQ(calls, 1);
    return text;
  }

  static TransferError<ErrorResponse> failure(std::optional<int> status, std::optional<std::string> message,
                                              bool withBody = true) {
    TransferError<ErrorResponse> error;
    error.statusCode = status;
    if (withBody) {
      error.response = ErrorResponse{};
      error.response->message = std::move(message);
      error.response->code = 3;
    }
    return error;
  }

  std::vector<std::string> events;
};

TEST_F(ErrorHandlerTest, MessagesAreTheLocalizedTextsOfTheirKeys) {
  EXPECT_EQ(ErrorMessages::networkErrorMessage(), NSLocalizedString("network_error_message"));
  EXPECT_EQ(ErrorMessages::unauthorizedMessage(), NSLocalizedString("unauthorized_error_message"));
  EXPECT_NE(ErrorMessages::networkErrorMessage(), ErrorMessages::unauthorizedMessage());
}

TEST_F(ErrorHandlerTest, UnauthorizedWinsOverTheBodyAndSignsOutAfterTheCallback) {
  EXPECT_EQ(handle(failure(401, "token expired")), ErrorMessages::unauthorizedMessage());
  EXPECT_EQ(events, (std::vector<std::string>{"callback", "logout"}));
  events.clear();
  EXPECT_EQ(handle(failure(401, std::nullopt, false)), ErrorMessages::unauthorizedMessage());
  EXPECT_EQ(events, (std::vector<std::string>{"callback", "logout"}));
}

TEST_F(ErrorHandlerTest, OtherFailuresUseTheBodyMessageElseTheNetworkMessage) {
  EXPECT_EQ(handle(std::nullopt), ErrorMessages::networkErrorMessage());
  EXPECT_EQ(handle(failure(500, "Quiz is closed")), "Quiz is closed");
  EXPECT_EQ(handle(failure(404, std::nullopt, false)), ErrorMessages::networkErrorMessage());
  EXPECT_EQ(handle(failure(400, std::nullopt)), ErrorMessages::networkErrorMessage());
  EXPECT_EQ(handle(failure(400, "")), "");
  // A transport failure: no status and no body.
  TransferError<ErrorResponse> offline;
  offline.error = NSError("NSURLErrorDomain", -1009, {});
  EXPECT_EQ(handle(offline), ErrorMessages::networkErrorMessage());
  EXPECT_EQ(std::count(events.begin(), events.end(), "logout"), 0);
}

TEST(ErrorHandlerDeathTest, UnauthorizedWithoutALogoutActionStops) {
  ErrorHandler::setLogoutAction(nullptr);
  TransferError<ErrorResponse> error;
  error.statusCode = 401;
  EXPECT_DEATH(ErrorHandler::handleError(error, [](const std::string&) {}), "no logout action");
}

}  // namespace
