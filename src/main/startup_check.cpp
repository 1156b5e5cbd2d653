#include "main/startup_check.h"

#include <cstdlib>
#include <filesystem>

#include "backend/backend_api.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/url.h"

namespace {

constexpr const char* kResourcesVariable = "DORVALE_RESOURCES";

bool isSet(const char* value) { return value && *value; }

}  // namespace

std::optional<std::string> startupProblem() {
  const std::string resources = Bundle::mainResourcePath();
  std::error_code error;
  if (!std::filesystem::is_regular_file(resources + "/Info.json", error)) {
    const char* where = isSet(std::getenv(kResourcesVariable)) ? " (from DORVALE_RESOURCES)" : "";
    return "Resources not found: " + resources + where + " holds no Info.json. Set " + kResourcesVariable +
           " to the resources folder of the source tree.";
  }
  if (const char* backend = std::getenv(BackendApi::kBackendUrlVariable); isSet(backend)) {
    auto url = URL::URLWithString(backend);
    auto scheme = url ? url->scheme() : std::nullopt;
    if (!url || (scheme != "http" && scheme != "https") || !url->host() || url->host()->empty()) {
      return std::string(BackendApi::kBackendUrlVariable) + " must be an absolute http or https URL, not '" + backend +
             "'.";
    }
  }
  return std::nullopt;
}
