// A localized strings file from arbitrary bytes, read both as text and from a bundle's en.lproj:
// nothing may crash, and the bundle serves exactly what the parser read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/foundation/bundle.h"
#include "support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir("strings-fuzz");
  static const bool made = std::filesystem::create_directories(dir.path() / "en.lproj");
  (void)made;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Bundle::StringsTable table = Bundle::parseStringsTable(text);

  std::ofstream(dir.path() / "en.lproj" / "Fuzz.strings", std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
  const Bundle bundle(dir.str());
  for (const auto& [key, value] : table) {
    if (bundle.localizedStringForKey(key, "", "Fuzz") != value) std::abort();
  }
  return 0;
}
