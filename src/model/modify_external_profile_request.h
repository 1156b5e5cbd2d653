#pragma once

#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Attaches an external sign-in profile to the signed-in account.
struct ModifyExternalProfileRequest : EncodableRecord<ModifyExternalProfileRequest> {
  std::optional<std::string> provider;
  std::optional<std::string> token;

  void mapping(Map& map);
};
