#include "platform/http/string_encoding.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

bool isValidUTF8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<std::uint8_t>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<std::uint8_t>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += len;
  }
  return true;
}

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
