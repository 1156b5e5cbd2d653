#include "model/achievement_request.h"

#include "platform/json/bind.h"

void AchievementRequest::mapping(Map& map) {
  bindField(entityType, map["entityType"]);
  bindField(id, map["id"]);
}
