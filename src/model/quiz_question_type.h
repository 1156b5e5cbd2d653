#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

#include "platform/json/raw_representable.h"

// How a question is answered. The raw text is the case name.
enum class QuizQuestionType { trueFalse, getWord, oneCorrect, moreCorrect };

template <>
struct EnumTraits<QuizQuestionType> {
  static constexpr std::pair<QuizQuestionType, std::string_view> cases[] = {
      {QuizQuestionType::trueFalse, "trueFalse"},
      {QuizQuestionType::getWord, "getWord"},
      {QuizQuestionType::oneCorrect, "oneCorrect"},
      {QuizQuestionType::moreCorrect, "moreCorrect"},
  };
};

template <>
struct std::hash<QuizQuestionType> {
  std::size_t operator()(QuizQuestionType type) const noexcept { return static_cast<std::size_t>(type); }
};
