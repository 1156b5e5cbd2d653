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

  // Never nothing: a text that is not a JSON array gives an empty list.
  static MappableArray decode(std::string_view text) { return MappableArray(Mapper<T>().mapArray(text)); }

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
