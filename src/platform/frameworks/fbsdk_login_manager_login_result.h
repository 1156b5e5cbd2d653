#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/frameworks/fbsdk_access_token.h"

// The outcome of a Facebook login dialog that neither failed nor was left out: cancelled, or the
// new token with the permissions granted and declined.
class FBSDKLoginManagerLoginResult {
 public:
  FBSDKLoginManagerLoginResult(std::shared_ptr<FBSDKAccessToken> token, bool isCancelled,
                               std::set<std::string> grantedPermissions, std::set<std::string> declinedPermissions)
      : token_(std::move(token)),
        isCancelled_(isCancelled),
        grantedPermissions_(std::move(grantedPermissions)),
        declinedPermissions_(std::move(declinedPermissions)) {}

  static std::shared_ptr<FBSDKLoginManagerLoginResult> cancelled() {
    return std::make_shared<FBSDKLoginManagerLoginResult>(nullptr, true, std::set<std::string>{},
                                                          std::set<std::string>{});
  }

  // nullptr when cancelled.
  const std::shared_ptr<FBSDKAccessToken>& token() const { return token_; }
  bool isCancelled() const { return isCancelled_; }
  const std::set<std::string>& grantedPermissions() const { return grantedPermissions_; }
  const std::set<std::string>& declinedPermissions() const { return declinedPermissions_; }

 private:
  std::shared_ptr<FBSDKAccessToken> token_;
  bool isCancelled_;
  std::set<std::string> grantedPermissions_;
  std::set<std::string> declinedPermissions_;
};
