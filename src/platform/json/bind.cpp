#include "platform/json/bind.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kTwoToThe63 = 9223372036854775808.0;

std::optional<double> doubleFromJSON(const JsonValue& value) {
  if (!value.is_number()) return std::nullopt;
  return value.get<double>();
}

std::optional<bool> boolFromJSON(const JsonValue& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number_integer()) {
    const std::optional<std::int64_t> number = json_detail::int64FromJSON(value);
    if (number == 0 || number == 1) return *number == 1;
  }
  return std::nullopt;
}

std::optional<std::vector<std::int64_t>> int64ArrayFromJSON(const JsonValue& value) {
  if (!value.is_array()) return std::nullopt;
  const auto& elements = value.get_ref<const JsonValue::array_t&>();
  std::vector<std::int64_t> numbers;
  numbers.reserve(elements.size());
  for (const JsonValue& element : elements) {
    const std::optional<std::int64_t> number = json_detail::int64FromJSON(element);
    if (!number) return std::nullopt;
    numbers.push_back(*number);
  }
  return numbers;
}

template <class T>
std::optional<OrderedJsonValue> asJSON(const T& value) {
  return OrderedJsonValue(value);
}

}  // namespace

namespace json_detail {

std::optional<std::int64_t> int64FromJSON(const JsonValue& value) {
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(number);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // Both bounds are exact doubles; a truncating cast outside them would be undefined.
    if (!std::isfinite(number) || number != std::trunc(number) || number < -kTwoToThe63 || number >= kTwoToThe63)
      return std::nullopt;
    return static_cast<std::int64_t>(number);
  }
  return std::nullopt;
}

}  // namespace json_detail

void bindField(std::optional<std::string>& field, MapEntry entry) {
  json_detail::bindWith(
      field, entry,
      [](const JsonValue& value) -> std::optional<std::string> {
        if (!value.is_string()) return std::nullopt;
        return value.get_ref<const std::string&>();
      },
      asJSON<std::string>);
}

void bindField(std::optional<std::int64_t>& field, MapEntry entry) {
  json_detail::bindWith(field, entry, json_detail::int64FromJSON, asJSON<std::int64_t>);
}

void bindField(std::optional<double>& field, MapEntry entry) {
  json_detail::bindWith(field, entry, doubleFromJSON, [](double value) -> std::optional<OrderedJsonValue> {
    // JSON has no NaN or infinity; leaving the key out keeps the body valid JSON.
    if (!std::isfinite(value)) return std::nullopt;
    return OrderedJsonValue(value);
  });
}

void bindField(std::optional<bool>& field, MapEntry entry) {
  json_detail::bindWith(field, entry, boolFromJSON, asJSON<bool>);
}

void bindField(std::optional<std::vector<std::int64_t>>& field, MapEntry entry) {
  json_detail::bindWith(field, entry, int64ArrayFromJSON, asJSON<std::vector<std::int64_t>>);
}
