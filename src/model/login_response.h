#pragma once

#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// Reply of the account calls that issue a token.
struct LoginResponse : DecodableRecord<LoginResponse> {
  std::optional<std::string> token;
  std::optional<std::string> userName;
  std::optional<std::string> provider;  // not always sent

  void mapping(Map& map);
};
