#pragma once

#include <algorithm>
#include <concepts>
#include <optional>
#include <string_view>

#include "platform/json/mapper.h"

// Values built from the text of an answer. `decode` gives the value or nothing; types that always
// give a value return it directly.
template <class T>
concept TransferDecodable = requires(std::string_view text) {
  { T::decode(text) } -> std::convertible_to<std::optional<T>>;
};

// Base of every response record: nothing only when the text is not a JSON object.
template <class Record>
struct DecodableRecord {
  static std::optional<Record> decode(std::string_view text) { return Mapper<Record>().map(text); }
};

// Whether the JSON array under `key` of a map being read holds elements that are not objects: a
// record list skips them, so a record that must not lose an element has to ask.
inline bool skipsElements(Map& map, std::string_view key) {
  if (!map.isReading()) return false;
  const JsonValue* value = map.valueForKey(key);
  return value && value->is_array() &&
         std::any_of(value->begin(), value->end(), [](const JsonValue& element) { return !element.is_object(); });
}
