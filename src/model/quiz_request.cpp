#include "model/quiz_request.h"

#include "platform/json/bind.h"

void QuizRequest::mapping(Map& map) {
  bindField(id, map["quizId"]);
  bindField(name, map["name"]);
  bindField(pageNumber, map["pageNumber"]);
  bindField(pageSize, map["pageSize"]);
  bindField(curriculumId, map["curriculumId"]);
  bindField(all, map["all"]);
  bindField(lectureId, map["lectureId"]);
}
