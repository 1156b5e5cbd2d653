#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/quiz_answer_response.h"
#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One question of a quiz. `dataType` and `type` are the raw texts of the question kinds.
struct QuizQuestionResponse : DecodableRecord<QuizQuestionResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::int64_t> quizId;
  std::optional<bool> isDeleted;
  std::optional<std::string> dataType;
  std::optional<std::string> type;
  std::optional<std::string> text;
  std::optional<std::string> data;  // not always sent
  std::optional<std::int64_t> order;
  std::optional<std::int64_t> maxScore;
  std::optional<std::vector<QuizAnswerResponse>> answer;
  bool hasUnusableAnswers = false;  // `answer` skipped an element that is not an object

  void mapping(Map& map);
};
