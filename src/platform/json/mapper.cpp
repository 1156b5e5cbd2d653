#include "platform/json/mapper.h"

namespace json_detail {

JsonValue parseJSON(std::string_view text) {
  return JsonValue::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
}

std::string dumpJSON(const OrderedJsonValue& value, bool prettyPrint) {
  return value.dump(prettyPrint ? 4 : -1, ' ', /*ensure_ascii=*/false, OrderedJsonValue::error_handler_t::replace);
}

bool parseArrayObjects(std::string_view text, const std::function<void(const JsonValue& object)>& object) {
  bool isArray = false;
  // Objects inside a top-level object are that object's own, never list elements.
  auto handOver = [&isArray, &object](int depth, JsonValue::parse_event_t event, JsonValue& parsed) {
    if (depth == 0 && event == JsonValue::parse_event_t::array_start) isArray = true;
    if (!isArray || depth != 1 || event != JsonValue::parse_event_t::object_end) return true;
    object(parsed);
    return false;
  };
  return JsonValue::parse(text.begin(), text.end(), handOver, /*allow_exceptions=*/false).is_array();
}

}  // namespace json_detail
