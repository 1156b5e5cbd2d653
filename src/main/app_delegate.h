#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_application.h"
#include "platform/ui/ui_responder.h"

// The application delegate: wires the outside frameworks and the service configuration at
// launch, routes URLs opened into the application to the two sign-in providers, empties the
// lecture caches on every return to the foreground and keeps the analytics hits at the end.
class AppDelegate : public UIResponder, public UIApplicationDelegate {
 public:
  AppDelegate() = default;

  // Set by the toolkit from the main storyboard, never by the delegate.
  std::shared_ptr<UIWindow> window() const override { return window_; }
  void setWindow(std::shared_ptr<UIWindow> window) override { window_ = std::move(window); }

  // The Facebook SDK's launch result.
  bool applicationDidFinishLaunchingWithOptions(UIApplication& application,
                                                const std::optional<Value::Dictionary>& launchOptions) override;
  // Facebook first; the Zedodo sign-in only for what Facebook declines.
  bool applicationOpenURL(UIApplication& application, const URL& url,
                          const std::optional<std::string>& sourceApplication, const Value& annotation) override;
  void applicationWillEnterForeground(UIApplication& application) override;
  void applicationWillResignActive(UIApplication&) override {}
  void applicationDidEnterBackground(UIApplication&) override {}
  void applicationDidBecomeActive(UIApplication&) override {}
  // Waits (at most 2 s) until the analytics hits reported so far are stored, so that a screen
  // view just before the end is not lost.
  void applicationWillTerminate(UIApplication& application) override;
  // Handed to the fetchers, whose background session it is.
  void applicationHandleEventsForBackgroundURLSession(UIApplication& application, const std::string& identifier,
                                                      std::function<void()> completionHandler) override;

 private:
  std::shared_ptr<UIWindow> window_;
};
