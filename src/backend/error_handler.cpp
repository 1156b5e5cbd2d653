#include "backend/error_handler.h"

#include <mutex>
#include <utility>

#include "platform/foundation/bundle.h"
#include "platform/foundation/fatal_error.h"

namespace {

std::mutex& logoutMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void()>& logoutAction() {
  static std::function<void()> action;
  return action;
}

void logout() {
  std::function<void()> action;
  {
    std::lock_guard lock(logoutMutex());
    action = logoutAction();
  }
  if (!action) fatalError("ErrorHandler: no logout action installed (the service locator installs it)");
  action();
}

}  // namespace

const std::string& ErrorMessages::networkErrorMessage() {
  static const std::string text = NSLocalizedString(kNetworkErrorMessageKey, "");
  return text;
}

const std::string& ErrorMessages::unauthorizedMessage() {
  static const std::string text = NSLocalizedString(kUnauthorizedMessageKey, "");
  return text;
}

void ErrorHandler::handleError(const std::optional<TransferError<ErrorResponse>>& error, const Callback& callback) {
  if (!error) {
    callback(ErrorMessages::networkErrorMessage());
  } else if (error->statusCode == 401) {
    callback(ErrorMessages::unauthorizedMessage());
    logout();
  } else if (error->response && error->response->message) {
    const std::string message = *error->response->message;
    callback(message);
  } else {
    callback(ErrorMessages::networkErrorMessage());
  }
}

void ErrorHandler::setLogoutAction(std::function<void()> action) {
  std::lock_guard lock(logoutMutex());
  logoutAction() = std::move(action);
}
