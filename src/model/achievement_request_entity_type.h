#pragma once

#include <string_view>
#include <utility>

#include "platform/json/raw_representable.h"

// The kind of entity whose achievements are asked for.
enum class AchievementRequestEntityType { Lecture, Curriculum, Quiz };

template <>
struct EnumTraits<AchievementRequestEntityType> {
  static constexpr std::pair<AchievementRequestEntityType, std::string_view> cases[] = {
      {AchievementRequestEntityType::Lecture, "lecture"},
      {AchievementRequestEntityType::Curriculum, "curriculum"},
      {AchievementRequestEntityType::Quiz, "quiz"},
  };
};
