#pragma once

#include "model/achievement_response.h"
#include "model/content_item.h"

// One achievement of the student.
class Achievement : public ContentItem<Achievement, AchievementResponse> {
 public:
  using ContentItem::ContentItem;
};
