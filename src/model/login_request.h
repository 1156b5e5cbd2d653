#pragma once

#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// E-mail sign-in.
struct LoginRequest : EncodableRecord<LoginRequest> {
  std::optional<std::string> userName;
  std::optional<std::string> password;

  void mapping(Map& map);
};
