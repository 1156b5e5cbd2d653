#include "model/quiz_result_response.h"

#include "model/dorvale_date_transform.h"
#include "platform/json/bind.h"

void QuizResultResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(score, map["score"]);
  bindField(time, map["time"]);
  bindField(result, map["result"]);
  bindField(date, map["dateString"], DorvaleDateTransform());
  bindField(version, map["version"]);
  bindField(answersScore, map["answersScore"]);
  bindField(answersTime, map["answersTime"]);
  bindField(maxScore, map["maxScore"]);
  bindField(answersMaxScore, map["answersMaxScore"]);
  bindField(quizId, map["quizId"]);
  bindField(studentId, map["studentId"]);
  bindField(mobileId, map["mobileId"]);
}
