#pragma once

#include <string_view>
#include <utility>

#include "platform/json/raw_representable.h"

// The kind of an achievement. "excelent" is the backend's spelling and must stay as it is.
enum class AchievementResponseType { All, Excellent };

template <>
struct EnumTraits<AchievementResponseType> {
  static constexpr std::pair<AchievementResponseType, std::string_view> cases[] = {
      {AchievementResponseType::All, "all"},
      {AchievementResponseType::Excellent, "excelent"},
  };
};
