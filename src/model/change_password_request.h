#pragma once

#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Changes the signed-in user's password.
struct ChangePasswordRequest : EncodableRecord<ChangePasswordRequest> {
  std::optional<std::string> oldPassword;
  std::optional<std::string> newPassword;

  void mapping(Map& map);
};
