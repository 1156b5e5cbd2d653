#include "model/quiz_question_response.h"

#include "platform/json/bind.h"

void QuizQuestionResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(quizId, map["quizId"]);
  bindField(isDeleted, map["isDeleted"]);
  bindField(dataType, map["questionDataType"]);
  bindField(type, map["type"]);
  bindField(text, map["questionText"]);
  bindField(data, map["questionData"]);
  bindField(order, map["order"]);
  bindField(maxScore, map["maxScore"]);
  bindField(answer, map["questionAnswer"]);
  hasUnusableAnswers = skipsElements(map, "questionAnswer");
}
