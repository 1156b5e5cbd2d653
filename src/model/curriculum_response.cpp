#include "model/curriculum_response.h"

#include "platform/json/bind.h"

void CurriculumResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(name, map["name"]);
  bindField(isDeleted, map["isDeleted"]);
  bindField(version, map["version"]);
  bindField(description, map["description"]);
  bindField(htmlContent, map["htmlSite"]);
  bindField(pictureUrl, map["picture"]);
  bindField(lectureId, map["lectureId"]);
  bindField(lectureName, map["lectureName"]);
  bindField(games, map["games"]);
  bindField(avgResult, map["avgResult"]);
  bindField(avgScore, map["avgScore"]);
  bindField(avgTime, map["avgTime"]);
  bindField(sumScore, map["sumScore"]);
  bindField(sumTime, map["sumTime"]);
}
