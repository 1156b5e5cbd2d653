#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/quiz_level_response.h"
#include "model/quiz_question_response.h"
#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One quiz; `question` comes only with the single-quiz load.
struct QuizResponse : DecodableRecord<QuizResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<bool> isDeleted;
  std::optional<std::int64_t> games;    // not always sent
  std::optional<double> avgResult;      // not always sent
  std::optional<double> avgScore;       // not always sent
  std::optional<double> avgTime;        // not always sent
  std::optional<double> sumScore;       // not always sent
  std::optional<std::int64_t> sumTime;  // not always sent
  std::optional<std::int64_t> quizLevelId;
  std::optional<QuizLevelResponse> quizLevel;
  std::optional<std::int64_t> curriculumId;
  std::optional<std::vector<QuizQuestionResponse>> question;  // not always sent
  bool hasUnusableQuestions = false;                          // `question` skipped an element that is not an object

  void mapping(Map& map);
};
