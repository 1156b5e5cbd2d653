#include "model/quiz_answer_response.h"

#include "platform/json/bind.h"

void QuizAnswerResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(quizQuestionId, map["quizQuestionId"]);
  bindField(isCorrect, map["isCorrect"]);
  bindField(answerText, map["answerText"]);
  bindField(pairText, map["pairText"]);
}
