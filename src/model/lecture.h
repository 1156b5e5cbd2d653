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
  void setColors(std::optional<Color> colors) { colors_.reset(colors ? new Color(std::move(*colors)) : nullptr); }

 private:
  // A list holds thousands of lectures: one pointer, to the theme table's entry (which outlives
  // them all) or to colours set by hand, which are the lecture's own.
  struct OwnedUnlessTheme {
    void operator()(const Color* colors) const;
  };
  std::unique_ptr<const Color, OwnedUnlessTheme> colors_;
};
