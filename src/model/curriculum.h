#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/content_item.h"
#include "model/curriculum_response.h"

// One curriculum of a lecture.
class Curriculum : public ContentItem<Curriculum, CurriculumResponse> {
 public:
  using ContentItem::ContentItem;

  // Nothing without an id, name or description.
  static std::shared_ptr<Curriculum> init(const CurriculumResponse& record);

  // The curriculum's HTML page.
  const std::optional<std::string>& content() const { return content_; }
  void setContent(std::optional<std::string> content) { content_ = std::move(content); }

 private:
  std::optional<std::string> content_;
};
