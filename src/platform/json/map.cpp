#include "platform/json/map.h"

#include <string>

const JsonValue* Map::valueForKey(std::string_view key) {
  if (source_ == nullptr) return nullptr;
  const auto found = source_->find(key);
  return found == source_->end() ? nullptr : &*found;
}

void Map::setValueForKey(std::string_view key, OrderedJsonValue value) {
  if (target_ == nullptr) return;
  (*target_)[std::string(key)] = std::move(value);
}
