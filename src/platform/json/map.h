#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

// The JSON tree records are read from. Its objects are sorted maps, so an answer with a huge object
// costs n log n to read: the ordered flavour looks up every key it inserts, quadratic in the keys.
using JsonValue = nlohmann::json;
// The JSON tree records are written to. It keeps keys in insertion order, so an encoded record lists
// its keys in its field order.
using OrderedJsonValue = nlohmann::ordered_json;

enum class MappingType { fromJSON, toJSON };

class MapEntry;

// One level of a record's JSON: either the object being read or the object being written.
// `map["key"]` selects a key for one binding.
class Map {
 public:
  // Reads from `object`, which must be a JSON object and must outlive the map.
  static Map reading(const JsonValue& object) { return Map(MappingType::fromJSON, &object, nullptr); }
  // Adds keys to `object`, which must be a JSON object and must outlive the map.
  static Map writing(OrderedJsonValue& object) { return Map(MappingType::toJSON, nullptr, &object); }

  MappingType mappingType() const { return mappingType_; }
  bool isReading() const { return mappingType_ == MappingType::fromJSON; }

  MapEntry operator[](std::string_view key);

  // Reading: the value under `key`, or nullptr when the key is missing.
  const JsonValue* valueForKey(std::string_view key);
  // Writing: puts `value` under `key`, replacing an earlier value of the same key.
  void setValueForKey(std::string_view key, OrderedJsonValue value);

 private:
  Map(MappingType type, const JsonValue* source, OrderedJsonValue* target)
      : mappingType_(type), source_(source), target_(target) {}

  MappingType mappingType_;
  const JsonValue* source_;
  OrderedJsonValue* target_;
};

// A key selected on a map; the second argument of every `bind`.
class MapEntry {
 public:
  MapEntry(Map& map, std::string_view key) : map_(&map), key_(key) {}

  bool isReading() const { return map_->isReading(); }
  std::string_view key() const { return key_; }
  const JsonValue* currentValue() const { return map_->valueForKey(key_); }
  void setValue(OrderedJsonValue value) const { map_->setValueForKey(key_, std::move(value)); }

 private:
  Map* map_;
  std::string_view key_;
};

inline MapEntry Map::operator[](std::string_view key) { return MapEntry(*this, key); }
