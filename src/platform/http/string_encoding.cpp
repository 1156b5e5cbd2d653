#include "platform/http/string_encoding.h"

#include "platform/foundation/text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

std::optional<std::string> stringFromData(const Data& data, StringEncoding encoding) {
  if (encoding == StringEncoding::UTF8) {
    if (!isValidUTF8(data.view())) return std::nullopt;
    return data.toString();
  }
  std::string out;
  out.reserve(data.size());
  for (std::uint8_t b : data.bytes) {
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::optional<StringEncoding> encodingFromCharset(std::string_view charset) {
  std::string name(charset);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  if (name == "utf-8" || name == "utf8") return StringEncoding::UTF8;
  if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" || name == "us-ascii") {
    return StringEncoding::ISOLatin1;
  }
  return std::nullopt;
}
