#pragma once

#include <optional>
#include <vector>

#include "model/achievement_response.h"
#include "model/quiz_result_response.h"
#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// Reply of the quiz results upload.
struct SaveQuizResultsResponse : DecodableRecord<SaveQuizResultsResponse> {
  std::optional<std::vector<QuizResultResponse>> quizResults;
  std::optional<std::vector<AchievementResponse>> achievements;

  void mapping(Map& map);
};
