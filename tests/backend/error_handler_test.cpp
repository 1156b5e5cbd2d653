#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/error_handler.h"
#include "platform/foundation/bundle.h"

namespace {

TransferError<ErrorResponse> failure(std::optional<int> status, std::optional<std::string> message,
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

TEST(ErrorHandlerTest, MessageByFailureAndASignOutAfterTheCallbackOnlyWhenUnauthorized) {
  EXPECT_EQ(ErrorMessages::networkErrorMessage(), NSLocalizedString("network_error_message"));
  EXPECT_EQ(ErrorMessages::unauthorizedMessage(), NSLocalizedString("unauthorized_error_message"));
  const std::string network = ErrorMessages::networkErrorMessage(), unauthorized = ErrorMessages::unauthorizedMessage();
  EXPECT_NE(network, unauthorized);

  TransferError<ErrorResponse> offline;  // a transport failure: no status and no body
  offline.error = NSError("NSURLErrorDomain", -1009, {});
  struct Row {
    std::optional<TransferError<ErrorResponse>> error;
    std::string message;
    bool logout;
  };
  const std::vector<Row> rows = {
      {failure(401, "token expired"), unauthorized, true},
      {failure(401, std::nullopt, false), unauthorized, true},
      {std::nullopt, network, false},
      {failure(500, "Quiz is closed"), "Quiz is closed", false},
      {failure(404, std::nullopt, false), network, false},
      {failure(400, std::nullopt), network, false},
      {failure(400, ""), "", false},
      {offline, network, false},
  };
  std::vector<std::string> events;
  ErrorHandler::setLogoutAction([&] { events.push_back("logout"); });
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    events.clear();
    std::string text;
    ErrorHandler::handleError(rows[i].error, [&](const std::string& message) {
      text = message;
      events.push_back("callback");
    });
    EXPECT_EQ(text, rows[i].message);
    EXPECT_EQ(events,
              (rows[i].logout ? std::vector<std::string>{"callback", "logout"} : std::vector<std::string>{"callback"}));
  }
  ErrorHandler::setLogoutAction(nullptr);
}

TEST(ErrorHandlerDeathTest, UnauthorizedWithoutALogoutActionStops) {
  ErrorHandler::setLogoutAction(nullptr);
  EXPECT_DEATH(ErrorHandler::handleError(failure(401, std::nullopt, false), [](const std::string&) {}),
               "no logout action");
}

}  // namespace
