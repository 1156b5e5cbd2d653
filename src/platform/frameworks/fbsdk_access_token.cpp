#include "platform/frameworks/fbsdk_access_token.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& currentMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::shared_ptr<FBSDKAccessToken>& currentToken() {
  static auto* token = new std::shared_ptr<FBSDKAccessToken>;
  return *token;
}

}  // namespace

FBSDKAccessToken::FBSDKAccessToken(std::string tokenString, std::set<std::string> permissions,
                                   std::set<std::string> declinedPermissions, std::string appID, std::string userID,
                                   std::optional<Date> expirationDate)
    : tokenString_(std::move(tokenString)),
      permissions_(std::move(permissions)),
      declinedPermissions_(std::move(declinedPermissions)),
      appID_(std::move(appID)),
      userID_(std::move(userID)),
      expirationDate_(expirationDate) {}

std::shared_ptr<FBSDKAccessToken> FBSDKAccessToken::currentAccessToken() {
  std::lock_guard lock(currentMutex());
  return currentToken();
}

void FBSDKAccessToken::setCurrentAccessToken(std::shared_ptr<FBSDKAccessToken> token) {
  std::shared_ptr<FBSDKAccessToken> previous;
  std::lock_guard lock(currentMutex());
  // The old token is released after the lock, in case its owner does more on destruction.
  previous = std::exchange(currentToken(), std::move(token));
}
