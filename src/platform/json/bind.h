#pragma once

#include <concepts>
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

namespace detail {

std::optional<std::int64_t> int64FromJSON(const JsonValue& value);

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
  records.reserve(elements.size());
  for (const JsonValue& element : elements)
    if (element.is_object()) records.push_back(mapObject<T>(element));
  return records;
}

// Writing only reads the fields, but `mapping` serves both directions and so takes the record
// unqualified.
template <Mappable T>
JsonValue objectFromRecord(T& record) {
  JsonValue object = JsonValue::object();
  Map map = Map::writing(object);
  record.mapping(map);
  return object;
}

}  // namespace detail

// Record form: a JSON object, mapped by the record's own mapping.
template <Mappable T>
void bindField(std::optional<T>& field, MapEntry entry) {
  if (entry.isReading()) {
    const JsonValue* value = entry.currentValue();
    if (value != nullptr && value->is_object())
      field = detail::mapObject<T>(*value);
    else
      field.reset();
  } else if (field) {
    entry.setValue(detail::objectFromRecord(*field));
  }
}

// Record array form: a JSON array; `[]` gives a present, empty list.
template <Mappable T>
void bindField(std::optional<std::vector<T>>& field, MapEntry entry) {
  if (entry.isReading()) {
    const JsonValue* value = entry.currentValue();
    if (value != nullptr && value->is_array())
      field = detail::mapObjects<T>(*value);
    else
      field.reset();
  } else if (field) {
    JsonValue array = JsonValue::array();
    for (T& record : *field) array.push_back(detail::objectFromRecord(record));
    entry.setValue(std::move(array));
  }
}

// Enumeration form: the case's raw value as a JSON string.
template <RawRepresentable E>
void bindField(std::optional<E>& field, MapEntry entry) {
  if (entry.isReading()) {
    const JsonValue* value = entry.currentValue();
    if (value != nullptr && value->is_string())
      field = enumFromRawValue<E>(value->get_ref<const std::string&>());
    else
      field.reset();
  } else if (field) {
    entry.setValue(JsonValue(std::string(rawValue(*field))));
  }
}

// Transformed form: whatever the transform reads and writes.
template <class Object, class Transform>
requires std::derived_from<Transform, TransformType<Object, typename Transform::JSON>>
void bindField(std::optional<Object>& field, MapEntry entry, const Transform& transform) {
  if (entry.isReading()) {
    const JsonValue* value = entry.currentValue();
    if (value != nullptr)
      field = transform.transformFromJSON(*value);
    else
      field.reset();
  } else if (std::optional<typename Transform::JSON> json = transform.transformToJSON(field)) {
    entry.setValue(JsonValue(std::move(*json)));
  }
}
