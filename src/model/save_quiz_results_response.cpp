#include "model/save_quiz_results_response.h"

#include "platform/json/bind.h"

void SaveQuizResultsResponse::mapping(Map& map) {
  bindField(quizResults, map["quizResults"]);
  bindField(achievements, map["achievements"]);
}
