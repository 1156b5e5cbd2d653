#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/achievement_response.h"

// One achievement of the student.
class Achievement {
 public:
  // Nothing without an id, name or description.
  static std::shared_ptr<Achievement> init(const AchievementResponse& record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& description() const { return description_; }
  void setDescription(std::string description) { description_ = std::move(description); }
  const std::optional<std::string>& pictureUrl() const { return pictureUrl_; }
  void setPictureUrl(std::optional<std::string> pictureUrl) { pictureUrl_ = std::move(pictureUrl); }

 private:
  Achievement() = default;

  std::int64_t id_ = 0;
  std::string name_;
  std::string description_;
  std::optional<std::string> pictureUrl_;
};
