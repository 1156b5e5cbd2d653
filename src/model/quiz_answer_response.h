#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One answer choice of a question.
struct QuizAnswerResponse : DecodableRecord<QuizAnswerResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::int64_t> quizQuestionId;
  std::optional<bool> isCorrect;
  std::optional<std::string> answerText;
  std::optional<std::string> pairText;

  void mapping(Map& map);
};
