#include "model/student_achievement_request.h"

#include "platform/json/bind.h"

void StudentAchievementRequest::mapping(Map& map) {
  bindField(lectureId, map["lectureId"]);
  bindField(pageNumber, map["pageNumber"]);
  bindField(pageSize, map["pageSize"]);
}
