#include "model/best_quiz_result_request.h"

#include "platform/json/bind.h"

void BestQuizResultRequest::mapping(Map& map) {
  bindField(quizId, map["quizId"]);
  bindField(curriculumId, map["curriculumId"]);
  bindField(lectureId, map["lectureId"]);
}
