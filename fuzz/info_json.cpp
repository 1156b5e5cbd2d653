// A bundle's Info.json from arbitrary bytes: nothing may crash, the bundle reads the file as JSON
// text reads, and every key is served as its entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/foundation/bundle.h"
#include "support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir("info-fuzz");
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::ofstream(dir.path() / "Info.json", std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));

  const Bundle bundle(dir.str());
  const Value::Dictionary info = bundle.infoDictionary();
  const auto parsed = Value::fromJSON(text);
  const bool isObject = parsed && parsed->isDictionary();
  if (info != (isObject ? *parsed->asDictionary() : Value::Dictionary())) std::abort();
  for (const auto& [key, value] : info) {
    if (bundle.objectForInfoDictionaryKey(key) != value) std::abort();
    (void)value.description();
  }
  return 0;
}
