#include "model/quiz_level_response.h"

#include "platform/json/bind.h"

void QuizLevelResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(name, map["name"]);
  bindField(two, map["two"]);
  bindField(three, map["three"]);
  bindField(four, map["four"]);
  bindField(five, map["five"]);
}
