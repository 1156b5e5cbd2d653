#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/date.h"

// A Facebook access token and what it grants. Immutable.
class FBSDKAccessToken {
 public:
  FBSDKAccessToken(std::string tokenString, std::set<std::string> permissions,
                   std::set<std::string> declinedPermissions, std::string appID, std::string userID,
                   std::optional<Date> expirationDate = std::nullopt);

  const std::string& tokenString() const { return tokenString_; }
  const std::set<std::string>& permissions() const { return permissions_; }
  const std::set<std::string>& declinedPermissions() const { return declinedPermissions_; }
  const std::string& appID() const { return appID_; }
  const std::string& userID() const { return userID_; }
  const std::optional<Date>& expirationDate() const { return expirationDate_; }
  bool hasGranted(const std::string& permission) const { return permissions_.count(permission) > 0; }

  // The token of the signed-in Facebook user, or nullptr. Thread-safe.
  static std::shared_ptr<FBSDKAccessToken> currentAccessToken();
  static void setCurrentAccessToken(std::shared_ptr<FBSDKAccessToken> token);

  // From now on the current token is kept in the keychain, so the next launch finds it; without a
  // current token, the kept one (if any) becomes current. Until then nothing is kept.
  static void startTokenCache();

 private:
  std::string tokenString_;
  std::set<std::string> permissions_;
  std::set<std::string> declinedPermissions_;
  std::string appID_;
  std::string userID_;
  std::optional<Date> expirationDate_;
};
