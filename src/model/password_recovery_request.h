#pragma once

#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Asks for a password recovery mail.
struct PasswordRecoveryRequest : EncodableRecord<PasswordRecoveryRequest> {
  std::optional<std::string> userName;

  void mapping(Map& map);
};
