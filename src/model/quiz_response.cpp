#include "model/quiz_response.h"

#include "platform/json/bind.h"

void QuizResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(name, map["name"]);
  bindField(description, map["description"]);
  bindField(isDeleted, map["isDeleted"]);
  bindField(games, map["games"]);
  bindField(avgResult, map["avgResult"]);
  bindField(avgScore, map["avgScore"]);
  bindField(avgTime, map["avgTime"]);
  bindField(sumScore, map["sumScore"]);
  bindField(sumTime, map["sumTime"]);
  bindField(quizLevelId, map["quizLevelId"]);
  bindField(quizLevel, map["quizLevel"]);
  bindField(curriculumId, map["curriculumId"]);
  bindField(question, map["quizQuestion"]);
  hasUnusableQuestions = skipsElements(map, "quizQuestion");
}
