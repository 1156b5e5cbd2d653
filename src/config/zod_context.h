#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/zod_configuration.h"
#include "platform/foundation/ns_error.h"

class ZAI;

inline constexpr const char* ZODContextErrorDomain = "com.zedodo.ZODContext";
enum ZODContextErrorCode : long {
  ZODContextErrorMissingPropertyList = -1,
  ZODContextErrorUnreadablePropertyList = -2,
};

// The configuration hub: reads "ZedodoService-Info.plist" from the main bundle and configures
// the services it enables: the default analytics tracker and the sign-in client id.
class ZODContext {
 public:
  // Made on first use, never released.
  static std::shared_ptr<ZODContext> sharedInstance();

  // `analytics`: where the tracker is made (the shared component when null).
  explicit ZODContext(std::shared_ptr<ZAI> analytics = nullptr);

  // False, with `error` set when given, when the list is missing or cannot be read; nothing is
  // configured then.
  bool configureWithError(std::optional<NSError>* error);
  bool configureWithContentsOfFile(const std::string& path, std::optional<NSError>* error);

  // The list read by the last successful configuration.
  std::optional<ZODConfiguration> configuration() const;

 private:
  std::shared_ptr<ZAI> analytics_;
  mutable std::mutex mutex_;
  std::optional<ZODConfiguration> configuration_;
};
