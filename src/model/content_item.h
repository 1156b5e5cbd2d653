#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/model_url_builder.h"

// What a lecture, a curriculum and an achievement have in common: an id, a name, a description
// and a picture, read from a record that carries the same keys. A model exists only through its
// `init`, never half made: the constructor asks for a key only this class can make.
template <class Model, class Record>
class ContentItem {
  class Key {
    friend ContentItem;
    Key() = default;
  };

 public:
  explicit ContentItem(Key) {}

  // Nothing without an id, name or description. A picture path is made absolute.
  static std::shared_ptr<Model> init(const Record& record) {
    auto model = withoutTexts(record);
    if (model) {
      model->name_ = *record.name;
      model->description_ = *record.description;
    }
    return model;
  }
  // The same, taking over the record's texts: a list of thousands leaves no copies behind.
  static std::shared_ptr<Model> init(Record&& record) {
    auto model = withoutTexts(record);
    if (model) {
      model->name_ = std::move(*record.name);
      model->description_ = std::move(*record.description);
    }
    return model;
  }

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& description() const { return description_; }
  void setDescription(std::string description) { description_ = std::move(description); }
  const std::optional<std::string>& pictureUrl() const { return pictureUrl_; }
  void setPictureUrl(std::optional<std::string> pictureUrl) { pictureUrl_ = std::move(pictureUrl); }

 private:
  static std::shared_ptr<Model> withoutTexts(const Record& record) {
    if (!record.id || !record.name || !record.description) return nullptr;
    auto model = std::make_shared<Model>(Key());
    model->id_ = *record.id;
    model->pictureUrl_ = ModelUrlBuilder::buildUrlIfPresent(record.pictureUrl);
    return model;
  }

  std::int64_t id_ = 0;
  std::string name_;
  std::string description_;
  std::optional<std::string> pictureUrl_;
};
