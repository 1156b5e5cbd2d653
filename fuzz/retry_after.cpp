// A server's Retry-After value, from arbitrary bytes: nothing may crash, and the wait is a number
// of seconds, never negative; a plain count of seconds is taken as it is.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "toolkit/session_fetcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Mid-2024: dates before it give no wait, dates after it give one.
  const Date now = Date::dateWithTimeIntervalSince1970(1719792000.0);
  const TimeInterval seconds = retryAfterSeconds(text, now);
  if (std::isnan(seconds) || seconds < 0) std::abort();
  if (!text.empty() && text.size() <= 6 && text.find_first_not_of("0123456789") == std::string_view::npos) {
    long expected = 0;
    for (char c : text) expected = expected * 10 + (c - '0');
    if (seconds != static_cast<TimeInterval>(expected)) std::abort();
  }
  return 0;
}
