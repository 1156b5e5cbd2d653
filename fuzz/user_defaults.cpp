// A settings file from arbitrary bytes: nothing may crash, every entry reads through every typed
// getter, and what was read survives being written and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/foundation/user_defaults.h"
#include "support/temp_dir.h"

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir("defaults-fuzz");
  const std::string first = dir.str() + "/first.json";
  const std::string second = dir.str() + "/second.json";
  const std::string text(reinterpret_cast<const char*>(data), size);
  writeAll(first, text);

  UserDefaults defaults(first);
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_object()) {
    for (const auto& [key, unused] : j.items()) {
      (void)defaults.objectForKey(key);
      (void)defaults.boolForKey(key);
      (void)defaults.integerForKey(key);
      (void)defaults.doubleForKey(key);
      (void)defaults.stringForKey(key);
      (void)defaults.dataForKey(key);
      (void)defaults.arrayForKey(key);
      (void)defaults.dictionaryForKey(key);
    }
  }

  // A change writes everything that was read; reading that back and writing it again must give
  // the same file.
  defaults.setObject(Value("marker"), "fuzz.marker");
  const std::string written = readAll(first);
  writeAll(second, written);
  UserDefaults again(second);
  again.setObject(Value("other"), "fuzz.other");
  again.removeObjectForKey("fuzz.other");
  if (readAll(second) != written) std::abort();
  return 0;
}
