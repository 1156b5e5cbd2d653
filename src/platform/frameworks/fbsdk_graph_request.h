#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/value.h"

inline constexpr const char* FBSDKErrorDomain = "com.facebook.sdk.core";

enum class FBSDKErrorCode : long {
  // The Graph API answered with an error status.
  GraphRequestGraphAPI = 8,
  // The answer was not a JSON object.
  InvalidGraphResponse = 9,
};

// userInfo keys of Graph API errors.
inline constexpr const char* FBSDKGraphRequestErrorHTTPStatusCodeKey =
    "com.facebook.sdk:FBSDKGraphRequestErrorHTTPStatusCodeKey";
inline constexpr const char* FBSDKGraphRequestErrorParsedJSONResponseKey =
    "com.facebook.sdk:FBSDKGraphRequestErrorParsedJSONResponseKey";

// One started Graph request.
class FBSDKGraphRequestConnection {
 public:
  // The handler will not run.
  void cancel() { cancelled_ = true; }
  bool isCancelled() const { return cancelled_; }

 private:
  std::atomic<bool> cancelled_{false};
};

// A request to the Graph API at FBSDKSettings::graphBaseURL(): base, version, "/", path, with the
// parameters and the token ("access_token") as query items.
class FBSDKGraphRequest {
 public:
  // The decoded JSON object of the answer, or the error.
  using Handler =
      std::function<void(const std::shared_ptr<FBSDKGraphRequestConnection>& connection,
                         const std::optional<Value::Dictionary>& result, const std::optional<NSError>& error)>;

  // version absent: FBSDKSettings::graphAPIVersion().
  FBSDKGraphRequest(std::string graphPath, std::map<std::string, std::string> parameters,
                    std::optional<std::string> tokenString, std::optional<std::string> version, std::string HTTPMethod);

  const std::string& graphPath() const { return graphPath_; }
  const std::map<std::string, std::string>& parameters() const { return parameters_; }
  const std::optional<std::string>& tokenString() const { return tokenString_; }
  const std::string& HTTPMethod() const { return HTTPMethod_; }

  // The URL text the request goes to.
  std::string urlString() const { return urlString(true); }

  // Sends the request; the handler runs once on the main run loop, never inside this call.
  std::shared_ptr<FBSDKGraphRequestConnection> startWithCompletionHandler(Handler handler) const;

 private:
  std::string urlString(bool withToken) const;

  std::string graphPath_;
  std::map<std::string, std::string> parameters_;
  std::optional<std::string> tokenString_;
  std::optional<std::string> version_;
  std::string HTTPMethod_;
};
