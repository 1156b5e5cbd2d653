#pragma once

#include <optional>
#include <string>

// Process-wide settings of the Facebook SDK stand-in. Thread-safe.
class FBSDKSettings {
 public:
  // The application's Facebook app id; absent until configured.
  static std::optional<std::string> appID();
  static void setAppID(std::optional<std::string> appID);

  // Where Graph requests go: scheme, host and a trailing "/" ("https://graph.facebook.com/" by
  // default). nullopt restores the default.
  static std::string graphBaseURL();
  static void setGraphBaseURL(std::optional<std::string> url);

  // The Graph API version of requests that name none; "" sends them without a version segment.
  static std::string graphAPIVersion();
  static void setGraphAPIVersion(std::optional<std::string> version);

  FBSDKSettings() = delete;
};
