#include "model/lecture.h"

#include <algorithm>

std::shared_ptr<Lecture> Lecture::init(LectureResponse record) {
  if (!record.color) return nullptr;
  const Color* theme = Color::theme(record.color);
  auto lecture = ContentItem::init(std::move(record));
  if (lecture) lecture->colors_.reset(theme);
  return lecture;
}

void Lecture::OwnedUnlessTheme::operator()(const Color* colors) const {
  const auto& table = Color::themes();
  if (std::none_of(table.begin(), table.end(), [colors](const auto& entry) { return &entry.second == colors; }))
    delete colors;
}
