// The service property list from arbitrary bytes (XML, binary or any other), read by the
// configuration hub: nothing may crash, and a list it accepts is what it then reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "analytics/zai.h"
#include "config/zod_context.h"
#include "platform/foundation/user_defaults.h"
#include "support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir("plist-fuzz");
  static const std::shared_ptr<ZAI> analytics = [] {
    // Nothing the hub sets up may reach the real data directory.
    UserDefaults::setApplicationDataDirectory(dir.str());
    return ZAI::make(dir.str() + "/hits.sqlite");
  }();
  const std::string path = dir.str() + "/ZedodoService-Info.plist";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  ZODContext context(analytics);
  std::optional<NSError> error;
  const bool configured = context.configureWithContentsOfFile(path, &error);
  if (configured != context.configuration().has_value() || configured == error.has_value()) {
    std::abort();
  }
  return 0;
}
