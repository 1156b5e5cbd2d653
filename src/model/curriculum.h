#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/curriculum_response.h"

// One curriculum of a lecture.
class Curriculum {
 public:
  // Nothing without an id, name or description.
  static std::shared_ptr<Curriculum> init(const CurriculumResponse& record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& description() const { return description_; }
  void setDescription(std::string description) { description_ = std::move(description); }
  // The curriculum's HTML page.
  const std::optional<std::string>& content() const { return content_; }
  void setContent(std::optional<std::string> content) { content_ = std::move(content); }
  const std::optional<std::string>& pictureUrl() const { return pictureUrl_; }
  void setPictureUrl(std::optional<std::string> pictureUrl) { pictureUrl_ = std::move(pictureUrl); }

 private:
  Curriculum() = default;

  std::int64_t id_ = 0;
  std::string name_;
  std::string description_;
  std::optional<std::string> content_;
  std::optional<std::string> pictureUrl_;
};
