#include "model/quiz_result_request.h"

#include "model/dorvale_date_transform.h"
#include "platform/json/bind.h"

void QuizResultRequest::mapping(Map& map) {
  bindField(quizId, map["quizId"]);
  bindField(date, map["date"], DorvaleDateTransform());
  bindField(lectureId, map["lectureId"]);
}
