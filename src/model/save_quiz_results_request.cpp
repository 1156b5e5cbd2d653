#include "model/save_quiz_results_request.h"

#include "model/dorvale_date_transform.h"
#include "platform/json/bind.h"

void SaveQuizResultsRequest::mapping(Map& map) {
  bindField(quizId, map["quizId"]);
  bindField(score, map["score"]);
  bindField(time, map["time"]);
  bindField(answersScore, map["answersScore"]);
  bindField(maxScore, map["maxScore"]);
  bindField(mobileId, map["mobileId"]);
  bindField(date, map["date"], DorvaleDateTransform());
  bindField(questionsId, map["questionsId"]);
  bindField(quizLevelId, map["quizLevelId"]);
}
