#pragma once

#include <optional>
#include <string>

// Process-wide settings of the Facebook SDK stand-in. Thread-safe.
class FBSDKSettings {
 public:
  // The application's Facebook app id: the one set here, else $DORVALE_FACEBOOK_APP_ID, else
  // FacebookAppID of the main bundle's info dictionary; absent when that is empty. Setting ""
  // leaves the application without one, nullopt restores the default.
  static constexpr const char* kAppIDVariable = "DORVALE_FACEBOOK_APP_ID";
  static constexpr const char* kAppIDInfoKey = "FacebookAppID";
  static std::optional<std::string> appID();
  static void setAppID(std::optional<std::string> appID);

  // Where Graph requests go: scheme, host and a trailing "/" ("https://graph.facebook.com/" by
  // default, or $DORVALE_FACEBOOK_GRAPH_URL when set). nullopt restores the default.
  static constexpr const char* kGraphURLVariable = "DORVALE_FACEBOOK_GRAPH_URL";
  static std::string graphBaseURL();
  static void setGraphBaseURL(std::optional<std::string> url);

  // The web login dialog's page ("https://www.facebook.com/dialog/oauth" by default, or
  // $DORVALE_FACEBOOK_DIALOG_URL when set). nullopt restores the default.
  static constexpr const char* kLoginDialogURLVariable = "DORVALE_FACEBOOK_DIALOG_URL";
  static std::string loginDialogURL();
  static void setLoginDialogURL(std::optional<std::string> url);

  // The Graph API version of requests that name none; "" sends them without a version segment.
  static std::string graphAPIVersion();
  static void setGraphAPIVersion(std::optional<std::string> version);

  FBSDKSettings() = delete;
};
