#include "model/achievement.h"

#include "model/model_url_builder.h"

std::shared_ptr<Achievement> Achievement::init(const AchievementResponse& record) {
  if (!record.id || !record.name || !record.description) return nullptr;
  std::shared_ptr<Achievement> achievement(new Achievement());
  achievement->id_ = *record.id;
  achievement->name_ = *record.name;
  achievement->description_ = *record.description;
  achievement->pictureUrl_ = ModelUrlBuilder::buildUrlIfPresent(record.pictureUrl);
  return achievement;
}
