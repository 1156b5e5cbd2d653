#include "model/lecture_response.h"

#include "platform/json/bind.h"

void LectureResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(name, map["name"]);
  bindField(isDeleted, map["isDeleted"]);
  bindField(version, map["version"]);
  bindField(description, map["description"]);
  bindField(pictureUrl, map["picture"]);
  bindField(color, map["color"]);
  bindField(teacherName, map["teacherName"]);
  bindField(games, map["games"]);
  bindField(avgResult, map["avgResult"]);
  bindField(avgScore, map["avgScore"]);
  bindField(avgTime, map["avgTime"]);
  bindField(sumScore, map["sumScore"]);
  bindField(sumTime, map["sumTime"]);
}
