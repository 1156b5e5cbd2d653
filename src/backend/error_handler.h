#pragma once

#include <functional>
#include <optional>
#include <string>

#include "backend/transfer_error.h"
#include "model/error_response.h"

// The two fixed texts shown for failed calls, each looked up once in the main bundle.
struct ErrorMessages {
  static constexpr const char* kNetworkErrorMessageKey = "network_error_message";
  static constexpr const char* kUnauthorizedMessageKey = "unauthorized_error_message";

  static const std::string& networkErrorMessage();
  static const std::string& unauthorizedMessage();
};

// Turns a failed backend call into the one text its caller shows, and ends the session on 401.
class ErrorHandler {
 public:
  using Callback = std::function<void(const std::string& message)>;

  // Calls `callback` exactly once before returning. On status 401 the text is the unauthorized
  // message whatever the body says, and the user is signed out after the callback returned, so
  // an alert raised by the callback is up before the session ends.
  static void handleError(const std::optional<TransferError<ErrorResponse>>& error, const Callback& callback);

  // The sign-out of a 401. The service locator installs the authentication manager's logout here
  // (the backend layer cannot reach the services itself).
  static void setLogoutAction(std::function<void()> action);
};
