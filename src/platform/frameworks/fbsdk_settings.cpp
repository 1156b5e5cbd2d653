#include "platform/frameworks/fbsdk_settings.h"

#include <mutex>

namespace {

constexpr const char* kDefaultGraphBaseURL = "https://graph.facebook.com/";
constexpr const char* kDefaultGraphAPIVersion = "v2.7";

struct Settings {
  std::mutex mutex;
  std::optional<std::string> appID;
  std::optional<std::string> graphBaseURL;
  std::optional<std::string> graphAPIVersion;
};

Settings& settings() {
  static Settings* shared = new Settings;
  return *shared;
}

}  // namespace

std::optional<std::string> FBSDKSettings::appID() {
  std::lock_guard lock(settings().mutex);
  return settings().appID;
}

void FBSDKSettings::setAppID(std::optional<std::string> appID) {
  std::lock_guard lock(settings().mutex);
  settings().appID = std::move(appID);
}

std::string FBSDKSettings::graphBaseURL() {
  std::lock_guard lock(settings().mutex);
  return settings().graphBaseURL.value_or(kDefaultGraphBaseURL);
}

void FBSDKSettings::setGraphBaseURL(std::optional<std::string> url) {
  if (url && !url->empty() && url->back() != '/') *url += '/';
  std::lock_guard lock(settings().mutex);
  settings().graphBaseURL = std::move(url);
}

std::string FBSDKSettings::graphAPIVersion() {
  std::lock_guard lock(settings().mutex);
  return settings().graphAPIVersion.value_or(kDefaultGraphAPIVersion);
}

void FBSDKSettings::setGraphAPIVersion(std::optional<std::string> version) {
  std::lock_guard lock(settings().mutex);
  settings().graphAPIVersion = std::move(version);
}
