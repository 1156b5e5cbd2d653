#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/json/map.h"
#include "platform/json/mappable.h"
#include "platform/json/raw_representable.h"
#include "platform/json/transform_type.h"

// The bindings a record's `mapping` applies, one per field: `bindField(field, map["key"])`, or
// `bindField(field, map["key"], transform)` for a transformed value. Reading sets the field from a
// usable value under the key and leaves it absent otherwise (missing key, null, other JSON type,
// number out of range); writing puts a present field under the key and leaves an absent one out.
// (Not named `bind`: fields are std types, so argument-dependent lookup would also find std::bind
// and quietly pick it for a field type without a binding here.)

// Plain form. Text takes only a JSON string. An integer takes a JSON integer in range, or a real
// with an integral value in range. A real takes any JSON number and is left out when written if
// it is not finite. A Boolean takes true and false, and the integers 0 and 1. An integer array
// takes a JSON array of usable integers (any other element leaves the whole field absent).
void bindField(std::optional<std::string>& field, MapEntry entry);
void bindField(std::optional<std::int64_t>& field, MapEntry entry);
void bindField(std::optional<double>& field, MapEntry entry);
void bindField(std::optional<bool>& field, MapEntry entry);
void bindField(std::optional<std::vector<std::int64_t>>& field, MapEntry entry);

namespace json_detail {

std::optional<std::int64_t> int64FromJSON(const JsonValue& value);

// Every binding: reading sets the field to what `fromJSON` makes of the value under the key (absent
// when the key is missing); writing a present field puts what `toJSON` gives, if anything.
template <class T, class FromJSON, class ToJSON>
void bindWith(std::optional<T>& field, MapEntry entry, FromJSON&& fromJSON, ToJSON&& toJSON) {
  if (entry.isReading()) {
    const JsonValue* value = entry.currentValue();
    if (value != nullptr) field = fromJSON(*value);
    else field.reset();
  } else if (field) {
    if (std::optional<OrderedJsonValue> json = toJSON(*field)) entry.setValue(std::move(*json));
  }
}

template <Mappable T>
T mapObject(const JsonValue& object) {
  T record;
  Map map = Map::reading(object);
  record.mapping(map);
  return record;
}

// One record per object element, in order; other elements are skipped.
template <Mappable T>
std::vector<T> mapObjects(const JsonValue& array) {
  const auto& elements = array.get_ref<const JsonValue::array_t&>();
  std::vector<T> records;
  // Room for the objects only: a long list of numbers must not reserve a record for each.
  records.reserve(static_cast<std::size_t>(
      std::count_if(elements.begin(), elements.end(), [](const JsonValue& element) { return element.is_object(); })));
  for (const JsonValue& element : elements)
    if (element.is_object()) records.push_back(mapObject<T>(element));
  return records;
}

// Writing only reads the fields, but `mapping` serves both directions and so takes the record
// unqualified.
template <Mappable T>
OrderedJsonValue objectFromRecord(T& record) {
  OrderedJsonValue object = OrderedJsonValue::object();
  Map map = Map::writing(object);
  record.mapping(map);
  return object;
}

}  // namespace json_detail

// Record form: a JSON object, mapped by the record's own mapping.
template <Mappable T>
void bindField(std::optional<T>& field, MapEntry entry) {
  json_detail::bindWith(
      field, entry,
      [](const JsonValue& value) -> std::optional<T> {
        if (!value.is_object()) return std::nullopt;
        return json_detail::mapObject<T>(value);
      },
      [](T& record) -> std::optional<OrderedJsonValue> { return json_detail::objectFromRecord(record); });
}

// Record array form: a JSON array; `[]` gives a present, empty list.
template <Mappable T>
void bindField(std::optional<std::vector<T>>& field, MapEntry entry) {
  json_detail::bindWith(
      field, entry,
      [](const JsonValue& value) -> std::optional<std::vector<T>> {
        if (!value.is_array()) return std::nullopt;
        return json_detail::mapObjects<T>(value);
      },
      [](std::vector<T>& records) -> std::optional<OrderedJsonValue> {
        OrderedJsonValue array = OrderedJsonValue::array();
        for (T& record : records) array.push_back(json_detail::objectFromRecord(record));
        return array;
      });
}

// Enumeration form: the case's raw value as a JSON string.
template <RawRepresentable E>
void bindField(std::optional<E>& field, MapEntry entry) {
  json_detail::bindWith(
      field, entry,
      [](const JsonValue& value) -> std::optional<E> {
        if (!value.is_string()) return std::nullopt;
        return enumFromRawValue<E>(value.get_ref<const std::string&>());
      },
      [](E value) -> std::optional<OrderedJsonValue> { return OrderedJsonValue(std::string(rawValue(value))); });
}

// Transformed form: whatever the transform reads, and writes for a present field.
template <class Object, class Transform>
requires std::derived_from<Transform, TransformType<Object, typename Transform::JSON>>
void bindField(std::optional<Object>& field, MapEntry entry, const Transform& transform) {
  json_detail::bindWith(
      field, entry, [&](const JsonValue& value) { return transform.transformFromJSON(value); },
      [&](const Object& value) -> std::optional<OrderedJsonValue> {
        if (auto json = transform.transformToJSON(value)) return OrderedJsonValue(std::move(*json));
        return std::nullopt;
      });
}
