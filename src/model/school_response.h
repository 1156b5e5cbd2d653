#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One school of the school list, also nested in the profile.
struct SchoolResponse : DecodableRecord<SchoolResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::int64_t> universityId;
  std::optional<std::int64_t> facultyId;
  std::optional<std::int64_t> departmentId;
  std::optional<std::string> universityName;
  std::optional<std::string> facultyName;
  std::optional<std::string> departmentName;
  std::optional<std::string> name;

  void mapping(Map& map);
};
