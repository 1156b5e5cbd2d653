#include "platform/json/date_formater_transform.h"

std::optional<Date> DateFormaterTransform::transformFromJSON(const JsonValue& value) const {
  if (!value.is_string()) return std::nullopt;
  return dateFormatter_.dateFromString(value.get_ref<const std::string&>());
}

std::optional<std::string> DateFormaterTransform::transformToJSON(const std::optional<Date>& value) const {
  if (!value) return std::nullopt;
  return dateFormatter_.stringFromDate(*value);
}
