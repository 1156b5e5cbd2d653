#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "model/color.h"
#include "model/content_item.h"
#include "model/lecture_response.h"

// One lecture.
class Lecture : public ContentItem<Lecture, LectureResponse> {
 public:
  using ContentItem::ContentItem;

  // Nothing without an id, name, description or colour theme name.
  static std::shared_ptr<Lecture> init(const LectureResponse& record);

  // Absent when the theme name is unknown.
  const std::optional<Color>& colors() const { return colors_; }
  void setColors(std::optional<Color> colors) { colors_ = std::move(colors); }

 private:
  std::optional<Color> colors_;
};
