#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/json/mapper.h"

// Values sent as a request body.

// A plain array is sent as its elements' decimal digits between brackets. Only integer arrays are
// sent (lecture ids), and only for them is that text JSON, so other element types do not compile.
template <class T>
concept PlainArrayElement = std::integral<T> && !std::same_as<T, bool>;

template <PlainArrayElement E>
std::string encode(const std::vector<E>& array) {
  std::string text = "[";
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(array[i]);
  }
  text += ']';
  return text;
}

template <class T>
requires requires(const T& value) {
  { value.encode() } -> std::same_as<std::string>;
}
std::string encode(const T& value) { return value.encode(); }

template <class T>
concept TransferEncodable = requires(const T& value) {
  { encode(value) } -> std::same_as<std::string>;
};

// Base of every request record: the body is the record's compact JSON object.
template <class Record>
struct EncodableRecord {
  std::string encode() const { return Mapper<Record>().toJSONString(static_cast<const Record&>(*this)); }
};
