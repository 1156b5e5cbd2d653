#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/school_response.h"
#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// The signed-in user's profile. `id` is text on the wire, and the schools arrive under the
// singular key "school".
struct UserProfileResponse : DecodableRecord<UserProfileResponse> {
  std::optional<bool> isConfirmed;
  std::optional<std::string> firstName;
  std::optional<std::string> lastName;
  std::optional<std::string> id;
  std::optional<std::string> userName;
  std::optional<std::string> profilePicturePath;       // not always sent
  std::optional<std::vector<SchoolResponse>> schools;  // not always sent
  std::optional<bool> hasFacebook;
  std::optional<bool> hasZedodo;
  std::optional<bool> hasPassword;

  void mapping(Map& map);
};
