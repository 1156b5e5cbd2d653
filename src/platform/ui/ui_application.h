#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "platform/foundation/url.h"
#include "platform/foundation/value.h"
#include "platform/ui/ui_responder.h"
#include "platform/ui/ui_view_controller.h"

class UIApplication;
class UIWindow;

enum class UIApplicationState { Active = 0, Inactive = 1, Background = 2 };
enum class UIStatusBarStyle { Default = 0, LightContent = 1 };

using UIBackgroundTaskIdentifier = std::size_t;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

// What the application tells its delegate. Every method has the platform's default answer. The
// selectors that all begin with "application:" are joined into one name each, so that a delegate
// overriding one of them does not hide the others.
class UIApplicationDelegate {
 public:
  virtual ~UIApplicationDelegate() = default;

  // The window the application shows, set by UIApplicationMain from the main storyboard.
  virtual std::shared_ptr<UIWindow> window() const { return nullptr; }
  virtual void setWindow(std::shared_ptr<UIWindow> /*window*/) {}

  // Launch options are absent when the application was started without any.
  virtual bool applicationDidFinishLaunchingWithOptions(UIApplication&,
                                                        const std::optional<Value::Dictionary>& /*launchOptions*/) {
    return true;
  }
  // A URL opened into the application by another one. The annotation is null when none came.
  virtual bool applicationOpenURL(UIApplication&, const URL& /*url*/,
                                  const std::optional<std::string>& /*sourceApplication*/,
                                  const Value& /*annotation*/) {
    return false;
  }
  virtual void applicationWillResignActive(UIApplication&) {}
  virtual void applicationDidEnterBackground(UIApplication&) {}
  virtual void applicationWillEnterForeground(UIApplication&) {}
  virtual void applicationDidBecomeActive(UIApplication&) {}
  virtual void applicationWillTerminate(UIApplication&) {}
  // Events of a background URL session arrived; call the handler when they are processed.
  virtual void applicationHandleEventsForBackgroundURLSession(UIApplication&, const std::string& /*identifier*/,
                                                              std::function<void()> /*completionHandler*/) {}
};

// The running application: its delegate, its key window, the life-cycle events, URLs opened out
// of and into it, background tasks and the status bar.
class UIApplication : public UIResponder {
 public:
  static std::shared_ptr<UIApplication> sharedApplication();
  // Installs `application` as the shared one (UIApplicationMain with a principal class; tests).
  static void setSharedApplication(std::shared_ptr<UIApplication> application);
  // A fresh application in place of the shared one (between tests).
  static void resetSharedApplication();

  UIApplication() = default;

  // The application keeps its delegate alive.
  std::shared_ptr<UIApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

  // The application keeps its key window alive.
  std::shared_ptr<UIWindow> keyWindow() const { return keyWindow_; }
  void setKeyWindow(std::shared_ptr<UIWindow> window) { keyWindow_ = std::move(window); }

  UIApplicationState applicationState() const { return state_; }

  // --- URLs opened out of the application (recorded) -------------------------------------------
  // Starts a web browser on an address, or says why none started.
  using WebBrowser = std::function<tl::expected<void, std::string>(const URL&)>;
  // Where http(s) addresses go. Without one (the default) they are only recorded as opened.
  void setWebBrowser(WebBrowser browser) { webBrowser_ = std::move(browser); }
  // True for the schemes some installed application handles (setHandledURLSchemes).
  bool canOpenURL(const URL& url);
  // Hands the URL to the handling application: false, and nothing opened, when none handles it
  // or the web browser did not start.
  bool openURL(const URL& url);
  void setHandledURLSchemes(std::set<std::string> schemes) { handledSchemes_ = std::move(schemes); }
  const std::vector<URL>& openedURLs() const { return openedURLs_; }
  // Every URL openURL handed on, in order, with why it did not open when it did not.
  struct URLOpening {
    URL url;
    std::optional<std::string> failure;
  };
  const std::vector<URLOpening>& urlOpenings() const { return urlOpenings_; }
  const std::vector<URL>& canOpenURLQueries() const { return canOpenQueries_; }

  // --- Events delivered to the application (the system's side; tests and the console driver) ---
  // A URL opened into the application: the delegate decides; false without a delegate.
  bool deliverOpenURL(const URL& url, const std::optional<std::string>& sourceApplication = std::nullopt,
                      const Value& annotation = Value());
  // Active -> inactive.
  void resignActive();
  // To the background (resigning first when active).
  void enterBackground();
  // Background -> inactive.
  void enterForeground();
  // Inactive -> active (entering the foreground first from the background).
  void becomeActive();
  void terminate();
  void deliverBackgroundURLSessionEvents(const std::string& identifier, std::function<void()> completionHandler);

  // --- Background tasks (any thread) ------------------------------------------------------------
  UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  // Ends an open task once; unknown or ended identifiers are ignored.
  void endBackgroundTask(UIBackgroundTaskIdentifier identifier);
  std::size_t openBackgroundTaskCount() const;
  // The system ran out of background time: runs the expiration handler of every open task.
  void expireBackgroundTasks();

  // --- Status bar and indicators ----------------------------------------------------------------
  bool isNetworkActivityIndicatorVisible() const { return networkActivityIndicatorVisible_; }
  void setNetworkActivityIndicatorVisible(bool visible) { networkActivityIndicatorVisible_ = visible; }
  UIStatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(UIStatusBarStyle style, bool /*animated*/ = false) { statusBarStyle_ = style; }
  UIInterfaceOrientation statusBarOrientation() const { return statusBarOrientation_; }
  void setStatusBarOrientation(UIInterfaceOrientation orientation) { statusBarOrientation_ = orientation; }

 private:
  std::shared_ptr<UIApplicationDelegate> delegate_;
  std::shared_ptr<UIWindow> keyWindow_;
  UIApplicationState state_ = UIApplicationState::Inactive;
  std::set<std::string> handledSchemes_{"http", "https", "mailto", "tel"};
  WebBrowser webBrowser_;
  std::vector<URL> openedURLs_;
  std::vector<URLOpening> urlOpenings_;
  std::vector<URL> canOpenQueries_;
  mutable std::mutex tasksMutex_;
  struct OpenBackgroundTask {
    UIBackgroundTaskIdentifier identifier;
    std::function<void()> expirationHandler;
    bool open = true;
  };
  // In identifier order (they only grow). A fetch opens and closes one each time, many at once in
  // a busy run: an ended task stays as a gap until the gaps outnumber the open ones, so ending one
  // never moves the others.
  std::vector<OpenBackgroundTask> tasks_;
  std::size_t openTasks_ = 0;
  std::vector<OpenBackgroundTask>::iterator findTask(UIBackgroundTaskIdentifier identifier);
  void dropEndedTasks();
  UIBackgroundTaskIdentifier nextTask_ = 1;
  bool networkActivityIndicatorVisible_ = false;
  UIStatusBarStyle statusBarStyle_ = UIStatusBarStyle::Default;
  UIInterfaceOrientation statusBarOrientation_ = UIInterfaceOrientation::Portrait;
};
