#include "config/zod_context.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>

#include "analytics/zai.h"
#include "analytics/zai_tracker.h"
#include "platform/foundation/bundle.h"
#include "signin/daz_sign_in.h"

namespace {

constexpr const char* kPropertyListName = "ZedodoService-Info";
// A service list is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxPropertyListSize = 1 << 20;

struct PlistDeleter {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<std::string> stringValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* raw = nullptr;
  plist_get_string_val(node, &raw);
  if (!raw) return std::nullopt;
  std::string text(raw);
  std::free(raw);
  if (text.empty()) return std::nullopt;
  return text;
}

bool boolValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node) return false;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return value != 0;
    }
    case PLIST_UINT: {
      std::uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return value != 0;
    }
    case PLIST_STRING: {
      auto text = stringValue(dict, key);
      return text && (*text == "YES" || *text == "true" || *text == "1");
    }
    default:
      return false;
  }
}

NSError configurationError(long code, const std::string& description, const std::string& path) {
  return NSError(ZODContextErrorDomain, code, {{NSLocalizedDescriptionKey, description}, {"path", path}});
}

}  // namespace

std::shared_ptr<ZODContext> ZODContext::sharedInstance() {
  static auto* instance = new std::shared_ptr<ZODContext>(std::make_shared<ZODContext>());
  return *instance;
}

ZODContext::ZODContext(std::shared_ptr<ZAI> analytics) : analytics_(std::move(analytics)) {}

bool ZODContext::configureWithError(std::optional<NSError>* error) {
  auto path = Bundle::main()->pathForResource(kPropertyListName, "plist");
  if (!path) {
    if (error) {
      *error = configurationError(ZODContextErrorMissingPropertyList,
                                  std::string("The service property list ") + kPropertyListName + ".plist is missing.",
                                  Bundle::main()->resourcePath());
    }
    return false;
  }
  return configureWithContentsOfFile(*path, error);
}

bool ZODContext::configureWithContentsOfFile(const std::string& path, std::optional<NSError>* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = configurationError(ZODContextErrorMissingPropertyList, "The service property list is missing.", path);
    return false;
  }
  std::string bytes;
  bytes.resize(kMaxPropertyListSize + 1);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));

  plist_t raw = nullptr;
  if (!bytes.empty() && bytes.size() <= kMaxPropertyListSize) {
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
  }
  PlistPtr root(raw);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    if (error) {
      *error = configurationError(ZODContextErrorUnreadablePropertyList, "The service property list cannot be read.", path);
    }
    return false;
  }

  ZODConfiguration config;
  config.clientID = stringValue(root.get(), "CLIENT_ID");
  config.trackingID = stringValue(root.get(), "TRACKING_ID");
  config.apiKey = stringValue(root.get(), "API_KEY");
  config.zedodoAppID = stringValue(root.get(), "ZEDODO_APP_ID");
  config.isAnalyticsEnabled = boolValue(root.get(), "IS_ANALYTICS_ENABLED");
  config.isSignInEnabled = boolValue(root.get(), "IS_SIGNIN_ENABLED");
  config.isMeasurementEnabled = boolValue(root.get(), "IS_MEASUREMENT_ENABLED");

  if (config.isAnalyticsEnabled && config.trackingID) {
    auto analytics = analytics_ ? analytics_ : ZAI::sharedInstance();
    analytics->trackerWithTrackingId(*config.trackingID);
  }
  if (config.isSignInEnabled && config.clientID) DAZSignIn::sharedInstance()->setClientID(*config.clientID);

  std::lock_guard lock(mutex_);
  configuration_ = std::move(config);
  return true;
}

std::optional<ZODConfiguration> ZODContext::configuration() const {
  std::lock_guard lock(mutex_);
  return configuration_;
}
