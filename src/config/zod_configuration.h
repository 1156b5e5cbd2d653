#pragma once

#include <optional>
#include <string>

// The service property list "ZedodoService-Info", as read at launch.
struct ZODConfiguration {
  std::optional<std::string> clientID;     // "CLIENT_ID"
  std::optional<std::string> trackingID;   // "TRACKING_ID"
  std::optional<std::string> apiKey;       // "API_KEY"
  std::optional<std::string> zedodoAppID;  // "ZEDODO_APP_ID"
  bool isAnalyticsEnabled = false;         // "IS_ANALYTICS_ENABLED"
  bool isSignInEnabled = false;            // "IS_SIGNIN_ENABLED"
  // "IS_MEASUREMENT_ENABLED": read and kept; this build has no measurement engine or usage logger.
  bool isMeasurementEnabled = false;
};
