#include "platform/json/mapper.h"

namespace json_detail {

JsonValue parseJSON(std::string_view text) {
  return JsonValue::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
}

std::string dumpJSON(const OrderedJsonValue& value, bool prettyPrint) {
  return value.dump(prettyPrint ? 4 : -1, ' ', /*ensure_ascii=*/false, OrderedJsonValue::error_handler_t::replace);
}

}  // namespace json_detail
