#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// E-mail registration. `password` and `confirmPassword` are both sent and never compared here.
struct RegisterRequest : EncodableRecord<RegisterRequest> {
  std::optional<std::string> userName;
  std::optional<std::string> firstName;
  std::optional<std::string> lastName;
  std::optional<std::string> password;
  std::optional<std::string> confirmPassword;
  std::optional<std::vector<std::int64_t>> schools;  // not always sent

  void mapping(Map& map);
};
