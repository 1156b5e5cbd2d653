#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/color.h"
#include "model/lecture_response.h"

// One lecture.
class Lecture {
 public:
  // Nothing without an id, name, description or colour theme name.
  static std::shared_ptr<Lecture> init(const LectureResponse& record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& description() const { return description_; }
  void setDescription(std::string description) { description_ = std::move(description); }
  const std::optional<std::string>& pictureUrl() const { return pictureUrl_; }
  void setPictureUrl(std::optional<std::string> pictureUrl) { pictureUrl_ = std::move(pictureUrl); }
  // Absent when the theme name is unknown.
  const std::optional<Color>& colors() const { return colors_; }
  void setColors(std::optional<Color> colors) { colors_ = std::move(colors); }

 private:
  Lecture() = default;

  std::int64_t id_ = 0;
  std::string name_;
  std::string description_;
  std::optional<std::string> pictureUrl_;
  std::optional<Color> colors_;
};
