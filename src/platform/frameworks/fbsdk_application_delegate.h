#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/url.h"
#include "platform/foundation/value.h"

class UIApplication;

// The Facebook SDK's share of the application's launch and of the URLs opened into it.
class FBSDKApplicationDelegate {
 public:
  static const std::shared_ptr<FBSDKApplicationDelegate>& sharedInstance();

  virtual ~FBSDKApplicationDelegate() = default;

  // Launch: starts the token cache and puts the web login dialog in place when no dialog presenter
  // is; true.
  virtual bool application(const std::shared_ptr<UIApplication>& application,
                           const std::optional<Value::Dictionary>& didFinishLaunchingWithOptions);
  // True for the URLs meant for the SDK: scheme "fb" followed by the configured app id.
  virtual bool application(const std::shared_ptr<UIApplication>& application, const URL& openURL,
                           const std::optional<std::string>& sourceApplication, const std::optional<Value>& annotation);
};
