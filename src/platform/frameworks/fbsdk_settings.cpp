#include "platform/frameworks/fbsdk_settings.h"

#include <cstdlib>
#include <mutex>

#include "platform/foundation/bundle.h"

namespace {

constexpr const char* kDefaultGraphBaseURL = "https://graph.facebook.com/";
constexpr const char* kDefaultGraphAPIVersion = "v2.7";
constexpr const char* kDefaultLoginDialogURL = "https://www.facebook.com/dialog/oauth";

struct Settings {
  std::mutex mutex;
  std::optional<std::string> appID;
  std::optional<std::string> graphBaseURL;
  std::optional<std::string> graphAPIVersion;
  std::optional<std::string> loginDialogURL;
};

Settings& settings() {
  static Settings* shared = new Settings;
  return *shared;
}

std::string withFinalSlash(std::string url) {
  if (!url.empty() && url.back() != '/') url += '/';
  return url;
}

std::string fromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

std::string configuredAppID() {
  if (auto id = fromEnvironment(FBSDKSettings::kAppIDVariable, ""); !id.empty()) return id;
  auto value = Bundle::main()->objectForInfoDictionaryKey(FBSDKSettings::kAppIDInfoKey);
  return value && value->asString() ? *value->asString() : "";
}

}  // namespace

std::optional<std::string> FBSDKSettings::appID() {
  std::optional<std::string> id;
  {
    std::lock_guard lock(settings().mutex);
    id = settings().appID;
  }
  if (!id) id = configuredAppID();
  if (id->empty()) return std::nullopt;
  return id;
}

void FBSDKSettings::setAppID(std::optional<std::string> appID) {
  std::lock_guard lock(settings().mutex);
  settings().appID = std::move(appID);
}

std::string FBSDKSettings::graphBaseURL() {
  std::lock_guard lock(settings().mutex);
  if (settings().graphBaseURL) return *settings().graphBaseURL;
  return withFinalSlash(fromEnvironment(kGraphURLVariable, kDefaultGraphBaseURL));
}

void FBSDKSettings::setGraphBaseURL(std::optional<std::string> url) {
  if (url) url = withFinalSlash(std::move(*url));
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

std::string FBSDKSettings::loginDialogURL() {
  std::lock_guard lock(settings().mutex);
  return settings().loginDialogURL.value_or(fromEnvironment(kLoginDialogURLVariable, kDefaultLoginDialogURL));
}

void FBSDKSettings::setLoginDialogURL(std::optional<std::string> url) {
  std::lock_guard lock(settings().mutex);
  settings().loginDialogURL = std::move(url);
}
