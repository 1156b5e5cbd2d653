#pragma once

#include <string>
#include <string_view>

// The body of calls that send nothing and the reply of calls whose answer nobody reads.
struct EmptyPayload {
  // Zero characters, not an empty JSON object.
  std::string encode() const { return {}; }
  static EmptyPayload decode(std::string_view) { return {}; }
};
