#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

#include "platform/json/raw_representable.h"

// The material a question carries. The backend calls audio "sound".
enum class QuizQuestionDataType { audio, video, text, image };

template <>
struct EnumTraits<QuizQuestionDataType> {
  static constexpr std::pair<QuizQuestionDataType, std::string_view> cases[] = {
      {QuizQuestionDataType::audio, "sound"},
      {QuizQuestionDataType::video, "video"},
      {QuizQuestionDataType::text, "text"},
      {QuizQuestionDataType::image, "image"},
  };
};

template <>
struct std::hash<QuizQuestionDataType> {
  std::size_t operator()(QuizQuestionDataType type) const noexcept { return static_cast<std::size_t>(type); }
};
