#include "model/lecture.h"

std::shared_ptr<Lecture> Lecture::init(LectureResponse record) {
  if (!record.color) return nullptr;
  const Color* theme = Color::theme(record.color);
  auto lecture = ContentItem::init(std::move(record));
  // Not owned: the table outlives every lecture.
  if (lecture && theme) lecture->colors_ = std::shared_ptr<const Color>(std::shared_ptr<const Color>(), theme);
  return lecture;
}
