#pragma once

#include <memory>
#include <optional>
#include <string>

#include "signin/daz_authentication.h"
#include "signin/daz_profile_data.h"

// A signed-in Zedodo user.
class DAZZedodoUser {
 public:
  // `authentication` is required.
  DAZZedodoUser(std::optional<std::string> userID, std::shared_ptr<DAZAuthentication> authentication,
                std::shared_ptr<DAZProfileData> profile);

  const std::optional<std::string>& userID() const { return userID_; }
  // Never nullptr.
  const std::shared_ptr<DAZAuthentication>& authentication() const { return authentication_; }
  // nullptr unless the basic profile was fetched.
  const std::shared_ptr<DAZProfileData>& profile() const { return profile_; }

 private:
  std::optional<std::string> userID_;
  std::shared_ptr<DAZAuthentication> authentication_;
  std::shared_ptr<DAZProfileData> profile_;
};
