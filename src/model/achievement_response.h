#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/achievement_response_type.h"
#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One achievement.
struct AchievementResponse : DecodableRecord<AchievementResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<std::string> pictureUrl;
  std::optional<AchievementResponseType> type;

  void mapping(Map& map);
};
