#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Creates the account of a user who signed in with Facebook or Zedodo. `provider` is "facebook"
// or "zedodo".
struct ExternalRegisterRequest : EncodableRecord<ExternalRegisterRequest> {
  std::optional<std::string> userName;
  std::optional<std::string> firstName;
  std::optional<std::string> lastName;
  std::optional<std::string> token;
  std::optional<std::vector<std::int64_t>> schools;  // not always sent
  std::optional<std::string> provider;

  void mapping(Map& map);
};
