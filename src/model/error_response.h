#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// The error body of every failed backend call.
struct ErrorResponse : DecodableRecord<ErrorResponse> {
  std::optional<std::string> message;
  std::optional<std::int64_t> code;

  void mapping(Map& map);
};
