// The wire's date texts, read strictly, from arbitrary bytes: nothing may crash, and a text that
// reads as a date must be written back exactly as it came (in UTC, where no local time is skipped).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "model/dorvale_date_transform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool utc = [] {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return true;
  }();
  (void)utc;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const DorvaleDateTransform transform;
  if (const auto date = transform.transformFromJSON(JsonValue(text))) {
    if (transform.transformToJSON(date) != text) std::abort();
  }
  const DateFormatter packed("yyyyMMddHHmmss");
  if (const auto date = packed.dateFromString(text)) {
    if (packed.stringFromDate(*date) != text) std::abort();
  }
  return 0;
}
