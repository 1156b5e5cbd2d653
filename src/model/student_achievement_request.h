#pragma once

#include <cstdint>
#include <optional>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Filter and paging of the signed-in student's achievements.
struct StudentAchievementRequest : EncodableRecord<StudentAchievementRequest> {
  std::optional<std::int64_t> lectureId;
  std::optional<std::int64_t> pageNumber;
  std::optional<std::int64_t> pageSize;

  void mapping(Map& map);
};
