#pragma once

#include <optional>

#include "platform/json/map.h"

// A converter between one JSON value and one field value, both ways.
template <class ObjectType, class JSONType>
class TransformType {
 public:
  using Object = ObjectType;
  using JSON = JSONType;

  virtual ~TransformType() = default;
  // Gives nothing for a value it cannot use.
  virtual std::optional<Object> transformFromJSON(const JsonValue& value) const = 0;
  virtual std::optional<JSON> transformToJSON(const std::optional<Object>& value) const = 0;
};
