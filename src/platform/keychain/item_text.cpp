#include "platform/keychain/item_text.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <utility>

namespace keychain_detail {

namespace {

constexpr int kFormatVersion = 1;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int hi = hexValue(hex[i]), lo = hexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return out;
}

// Every text is stored hex-encoded: services, accounts and labels are arbitrary bytes and JSON
// only carries UTF-8.
std::optional<std::string> hexField(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::nullopt;
  return fromHex(it->get_ref<const std::string&>());
}

// Absent is fine for optional fields; present but malformed makes the whole file unreadable.
bool optionalHexField(const nlohmann::json& j, const char* key, std::optional<std::string>& out) {
  if (!j.contains(key)) return true;
  out = hexField(j, key);
  return out.has_value();
}

}  // namespace

std::string toHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kHexDigits[c >> 4]);
    out.push_back(kHexDigits[c & 0xF]);
  }
  return out;
}

std::string encodeItem(const KeychainItem& item) {
  nlohmann::json j = nlohmann::json::object();
  j["version"] = kFormatVersion;
  j["service"] = toHex(item.service);
  j["account"] = toHex(item.account);
  j["data"] = toHex(item.data.view());
  j["accessibility"] = toHex(item.accessibility);
  if (item.label) j["label"] = toHex(*item.label);
  if (item.accessGroup) j["accessGroup"] = toHex(*item.accessGroup);
  if (item.generic) j["generic"] = toHex(*item.generic);
  return j.dump();
}

namespace {

// Takes in any JSON and keeps where it first went wrong. Without exceptions: nlohmann throws
// other kinds than parse_error too (a number too large for a double, for one).
class FirstError final : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::optional<std::size_t> position;

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t at, const std::string&, const nlohmann::detail::exception&) override {
    position = at;
    return false;
  }
};

// Whether the JSON ran out before it was whole: a file cut short by a crash or a full disk.
bool endsEarly(const std::string& text) {
  FirstError sax;
  nlohmann::json::sax_parse(text, &sax);
  return sax.position && *sax.position > text.size();
}

}  // namespace

// The item a file holds; otherwise nothing, and `why` says what is wrong with the file.
std::optional<KeychainItem> decodeItem(const std::string& text, std::string& why) {
  why = "is not a keychain item";
  auto j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object()) {
    if (text.empty()) why = "is empty";
    else if (j.is_discarded() && endsEarly(text)) why = "is cut short";
    return std::nullopt;
  }
  auto version = j.find("version");
  // Compared as 64 bits: a narrower read would wrap 2^32 + 1 to version 1.
  if (version == j.end() || !version->is_number_integer() || version->get<std::int64_t>() != kFormatVersion) {
    if (version != j.end() && version->is_number()) why = "is of another format version";
    return std::nullopt;
  }
  auto service = hexField(j, "service");
  auto account = hexField(j, "account");
  auto data = hexField(j, "data");
  auto accessibility = hexField(j, "accessibility");
  if (!service || !account || !data || !accessibility) return std::nullopt;
  KeychainItem item;
  item.service = std::move(*service);
  item.account = std::move(*account);
  item.data = Data::fromString(*data);
  item.accessibility = std::move(*accessibility);
  if (!optionalHexField(j, "label", item.label) || !optionalHexField(j, "accessGroup", item.accessGroup) ||
      !optionalHexField(j, "generic", item.generic))
    return std::nullopt;
  return item;
}

}  // namespace keychain_detail
