#pragma once

#include <fmt/format.h>

#include <cctype>
#include <string>

// `text` as one value of a URL query: everything but letters, digits and -_.~ percent-encoded.
inline std::string queryEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') out += static_cast<char>(c);
    else out += fmt::format("%{:02X}", c);
  }
  return out;
}
