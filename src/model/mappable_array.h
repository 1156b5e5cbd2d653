#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/fatal_error.h"
#include "platform/json/mapper.h"

// A list of records as one body: the reply of every list call, and the quiz results upload.
// Iterators follow std::vector's rules: changing `array` while iterating invalidates them.
template <Mappable T>
struct MappableArray {
  using value_type = T;
  using const_iterator = typename std::vector<T>::const_iterator;

  std::vector<T> array;

  MappableArray() = default;
  explicit MappableArray(std::vector<T> records) : array(std::move(records)) {}

  const_iterator begin() const { return array.begin(); }
  const_iterator end() const { return array.end(); }
  std::size_t size() const { return array.size(); }
  bool empty() const { return array.empty(); }
  std::optional<T> first() const {
    if (array.empty()) return std::nullopt;
    return array.front();
  }
  const T& operator[](std::size_t position) const {
    if (position >= array.size()) fatalError("MappableArray: index out of range");
    return array[position];
  }

  // Never nothing: a text that is not a JSON array gives an empty list. Each object of the array
  // becomes its record as soon as it is read and is dropped then: a list of a hundred thousand
  // items never stands whole as a JSON tree beside its records.
  static MappableArray decode(std::string_view text) {
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || text[start] != '[') return MappableArray();
    std::vector<T> records;
    auto keep = [&records](int depth, JsonValue::parse_event_t event, JsonValue& parsed) {
      if (depth != 1 || event != JsonValue::parse_event_t::object_end) return true;
      records.push_back(json_detail::mapObject<T>(parsed));
      return false;
    };
    const JsonValue json = JsonValue::parse(text.begin(), text.end(), keep, /*allow_exceptions=*/false);
    if (!json.is_array()) return MappableArray();
    return MappableArray(std::move(records));
  }

  // "[" + each record's compact object, joined by "," + "]".
  std::string encode() const {
    std::string text = "[";
    for (std::size_t i = 0; i < array.size(); ++i) {
      if (i > 0) text += ',';
      text += Mapper<T>().toJSONString(array[i]);
    }
    text += ']';
    return text;
  }
};
