#include "model/achievement_response.h"

#include "platform/json/bind.h"

void AchievementResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(name, map["name"]);
  bindField(description, map["description"]);
  bindField(pictureUrl, map["picture"]);
  bindField(type, map["type"]);
}
