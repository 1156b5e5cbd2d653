#include "model/lecture.h"

#include "model/model_url_builder.h"

std::shared_ptr<Lecture> Lecture::init(const LectureResponse& record) {
  if (!record.id || !record.name || !record.description || !record.color) return nullptr;
  std::shared_ptr<Lecture> lecture(new Lecture());
  lecture->id_ = *record.id;
  lecture->name_ = *record.name;
  lecture->description_ = *record.description;
  lecture->pictureUrl_ = ModelUrlBuilder::buildUrlIfPresent(record.pictureUrl);
  lecture->colors_ = Color::themeNamed(record.color);
  return lecture;
}
