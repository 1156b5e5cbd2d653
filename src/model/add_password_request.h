#pragma once

#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Adds a password to an account that signs in externally.
struct AddPasswordRequest : EncodableRecord<AddPasswordRequest> {
  std::optional<std::string> newPassword;

  void mapping(Map& map);
};
