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

  // Nothing without an id, name, description or colour theme name. The texts are taken over
  // from the record, and a theme's colours are the theme table's, not a copy.
  static std::shared_ptr<Lecture> init(LectureResponse record);

  // Absent when the theme name is unknown.
  std::optional<Color> colors() const { return colors_ ? std::optional<Color>(*colors_) : std::nullopt; }
  void setColors(std::optional<Color> colors) {
    colors_ = colors ? std::make_shared<const Color>(std::move(*colors)) : nullptr;
  }

 private:
  std::shared_ptr<const Color> colors_;
};
