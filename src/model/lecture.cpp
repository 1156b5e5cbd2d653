#include "model/lecture.h"

std::shared_ptr<Lecture> Lecture::init(const LectureResponse& record) {
  if (!record.color) return nullptr;
  auto lecture = ContentItem::init(record);
  if (lecture) lecture->colors_ = Color::themeNamed(record.color);
  return lecture;
}
