#pragma once

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
