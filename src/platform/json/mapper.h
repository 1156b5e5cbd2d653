#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/json/bind.h"
#include "platform/json/map.h"
#include "platform/json/mappable.h"

namespace json_detail {
// Never throws: text that is not JSON (or has trailing garbage) gives a discarded value.
JsonValue parseJSON(std::string_view text);
// Never throws: invalid UTF-8 in a string is written as U+FFFD.
std::string dumpJSON(const OrderedJsonValue& value, bool prettyPrint);
// Whether `text` is a JSON array; each object element goes to `object` as soon as it is read and
// is dropped then, so a long list never stands whole as a tree. Other elements are passed over.
bool parseArrayObjects(std::string_view text, const std::function<void(const JsonValue& object)>& object);
}  // namespace json_detail

// Reads records from JSON text and writes them back. Stateless; make one per call.
template <Mappable T>
class Mapper {
 public:
  // A record from a JSON object text; any other text gives nothing.
  std::optional<T> map(std::string_view text) const {
    const JsonValue json = json_detail::parseJSON(text);
    if (!json.is_object()) return std::nullopt;
    return json_detail::mapObject<T>(json);
  }

  // One record per object of a JSON array text, in order. Any other text gives an empty list.
  std::vector<T> mapArray(std::string_view text) const { return mapArrayIfArray(text).value_or(std::vector<T>()); }

  // As mapArray, but text that is not a JSON array gives nothing rather than an empty list.
  std::optional<std::vector<T>> mapArrayIfArray(std::string_view text) const {
    std::vector<T> records;
    if (!json_detail::parseArrayObjects(
            text, [&records](const JsonValue& object) { records.push_back(json_detail::mapObject<T>(object)); }))
      return std::nullopt;
    return records;
  }

  // The record as one JSON object, keys in field order, absent fields left out; compact unless
  // `prettyPrint`.
  std::string toJSONString(const T& record, bool prettyPrint = false) const {
    T copy = record;
    return json_detail::dumpJSON(json_detail::objectFromRecord(copy), prettyPrint);
  }
};
