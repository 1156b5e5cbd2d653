#include "config/zod_context.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <string_view>

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

// Reads the entries of the list's root dictionary. A text holding a NUL byte cannot be a value of
// the list: it marks the whole list as broken.
struct EntryReader {
  plist_t dict;
  bool broken = false;

  std::optional<std::string> text(const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    std::uint64_t length = 0;
    const char* raw = plist_get_string_ptr(node, &length);
    if (!raw) return std::nullopt;
    std::string value(raw, static_cast<std::size_t>(length));
    if (value.find('\0') != std::string::npos) {
      broken = true;
      return std::nullopt;
    }
    if (value.empty()) return std::nullopt;
    return value;
  }

  bool flag(const char* key) {
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
        auto value = text(key);
        return value && (*value == "YES" || *value == "true" || *value == "1");
      }
      default: return false;
    }
  }
};

// Big-endian unsigned of `size` bytes at `at`, when they are all inside `bytes`.
std::optional<std::uint64_t> readBigEndian(std::string_view bytes, std::uint64_t at, std::uint64_t size) {
  if (size == 0 || size > 8 || at > bytes.size() || size > bytes.size() - at) return std::nullopt;
  std::uint64_t value = 0;
  for (std::uint64_t i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// Whether a binary list holds an ASCII text with a NUL byte in it: the parser would cut such a text
// at the NUL and hand out its start as the whole value. Malformed lists answer no (the parser
// refuses them itself).
bool binaryListHasTextWithNul(std::string_view bytes) {
  constexpr std::size_t kTrailer = 32;
  if (!bytes.starts_with("bplist00") || bytes.size() < 8 + kTrailer) return false;
  const std::uint64_t trailer = bytes.size() - kTrailer;
  const auto offsetSize = readBigEndian(bytes, trailer + 6, 1);
  const auto objects = readBigEndian(bytes, trailer + 8, 8);
  const auto table = readBigEndian(bytes, trailer + 24, 8);
  if (!offsetSize || !objects || !table || *objects > bytes.size()) return false;
  for (std::uint64_t i = 0; i < *objects; ++i) {
    const auto at = readBigEndian(bytes, *table + i * *offsetSize, *offsetSize);
    const auto marker = at ? readBigEndian(bytes, *at, 1) : std::nullopt;
    if (!marker || (*marker >> 4) != 0x5) continue;
    std::uint64_t start = *at + 1;
    std::optional<std::uint64_t> length = *marker & 0xF;
    if (*length == 0xF) {  // the length follows as an integer object
      const auto intMarker = readBigEndian(bytes, start, 1);
      if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0xF) > 3) continue;
      const std::uint64_t intSize = std::uint64_t{1} << (*intMarker & 0xF);
      length = readBigEndian(bytes, start + 1, intSize);
      start += 1 + intSize;
    }
    if (!length || start > bytes.size() || *length > bytes.size() - start) continue;
    if (bytes.substr(start, *length).find('\0') != std::string_view::npos) return true;
  }
  return false;
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
    if (error)
      *error = configurationError(ZODContextErrorMissingPropertyList, "The service property list is missing.", path);
    return false;
  }
  std::string bytes;
  bytes.resize(kMaxPropertyListSize + 1);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));

  plist_t raw = nullptr;
  if (!bytes.empty() && bytes.size() <= kMaxPropertyListSize && !binaryListHasTextWithNul(bytes)) {
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
  }
  PlistPtr root(raw);
  std::optional<ZODConfiguration> read;
  if (root && plist_get_node_type(root.get()) == PLIST_DICT) {
    EntryReader entries{root.get()};
    ZODConfiguration config;
    config.clientID = entries.text("CLIENT_ID");
    config.trackingID = entries.text("TRACKING_ID");
    config.apiKey = entries.text("API_KEY");
    config.zedodoAppID = entries.text("ZEDODO_APP_ID");
    config.isAnalyticsEnabled = entries.flag("IS_ANALYTICS_ENABLED");
    config.isSignInEnabled = entries.flag("IS_SIGNIN_ENABLED");
    config.isMeasurementEnabled = entries.flag("IS_MEASUREMENT_ENABLED");
    if (!entries.broken) read = std::move(config);
  }
  if (!read) {
    if (error) {
      *error =
          configurationError(ZODContextErrorUnreadablePropertyList, "The service property list cannot be read.", path);
    }
    return false;
  }
  auto& config = *read;

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
