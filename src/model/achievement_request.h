#pragma once

#include <cstdint>
#include <optional>

#include "model/achievement_request_entity_type.h"
#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// The achievements of one lecture, curriculum or quiz.
struct AchievementRequest : EncodableRecord<AchievementRequest> {
  std::optional<AchievementRequestEntityType> entityType;
  std::optional<std::int64_t> id;

  void mapping(Map& map);
};
