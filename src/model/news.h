#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/color.h"
#include "model/news_response.h"
#include "platform/foundation/date.h"

// One item of the news list. A list can hold a hundred thousand: the texts are taken over from
// the record, and a theme's colours are the theme table's, not a copy.
class News {
 public:
  // Nothing without an id or a creation date.
  static std::shared_ptr<News> init(NewsResponse record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  Date date() const { return date_; }
  void setDate(Date date) { date_ = date; }
  // Absent when the record names no theme or one that does not exist.
  std::optional<Color> colors() const { return colors_ ? std::optional<Color>(*colors_) : std::nullopt; }
  void setColors(std::optional<Color> colors) {
    colors_ = colors ? std::make_shared<const Color>(std::move(*colors)) : nullptr;
  }
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::optional<std::string>& description() const { return description_; }
  void setDescription(std::optional<std::string> description) { description_ = std::move(description); }
  const std::optional<std::string>& content() const { return content_; }
  void setContent(std::optional<std::string> content) { content_ = std::move(content); }

 private:
  News() = default;

  std::int64_t id_ = 0;
  Date date_;
  std::shared_ptr<const Color> colors_;
  std::optional<std::string> title_;
  std::optional<std::string> description_;
  std::optional<std::string> content_;
};
