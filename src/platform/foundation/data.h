#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Bytes.
struct Data {
  std::vector<std::uint8_t> bytes;

  Data() = default;
  explicit Data(std::vector<std::uint8_t> b) : bytes(std::move(b)) {}
  static Data fromString(std::string_view s) { return Data(std::vector<std::uint8_t>(s.begin(), s.end())); }

  std::size_t size() const { return bytes.size(); }
  bool empty() const { return bytes.empty(); }
  const std::uint8_t* data() const { return bytes.data(); }
  std::string toString() const { return std::string(bytes.begin(), bytes.end()); }
  std::string_view view() const { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
  void append(std::string_view s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  void append(const Data& d) { bytes.insert(bytes.end(), d.bytes.begin(), d.bytes.end()); }

  bool operator==(const Data&) const = default;
};
