#include "platform/json/map.h"

#include <string>

const JsonValue* Map::valueForKey(std::string_view key) {
  if (source_ == nullptr) return nullptr;
  // The ordered object is a vector of pairs; its own operator[] looks up keys, so index through
  // the iterator.
  const auto items = source_->get_ref<const JsonValue::object_t&>().begin();
  const std::size_t count = source_->size();
  for (std::size_t n = 0; n < count; ++n) {
    std::size_t index = hint_ + n;
    if (index >= count) index -= count;
    const auto& item = items[static_cast<std::ptrdiff_t>(index)];
    if (item.first == key) {
      hint_ = index + 1;
      return &item.second;
    }
  }
  return nullptr;
}

void Map::setValueForKey(std::string_view key, JsonValue value) {
  if (target_ == nullptr) return;
  (*target_)[std::string(key)] = std::move(value);
}
