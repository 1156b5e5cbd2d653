#include "main/app_delegate.h"

#include <cstdlib>

#include "analytics/zai.h"
#include "config/zod_context.h"
#include "platform/foundation/fatal_error.h"
#include "platform/frameworks/fbsdk_application_delegate.h"
#include "platform/frameworks/iq_keyboard_manager.h"
#include "platform/frameworks/xcg_logger.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"
#include "signin/daz_sign_in.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_upload_fetcher.h"

namespace {

template <class T>
const std::shared_ptr<T>& required(const std::shared_ptr<T>& instance, const char* what) {
  if (!instance) fatalError(std::string("Missing shared instance of ") + what);
  return instance;
}

}  // namespace

bool AppDelegate::applicationDidFinishLaunchingWithOptions(UIApplication& application,
                                                           const std::optional<Value::Dictionary>& launchOptions) {
  IQKeyboardManager::sharedManager().setEnable(true);
  IQKeyboardManager::sharedManager().setEnableAutoToolbar(false);

  setenv("XcodeColors", "YES", 0);

  XCGLogger::defaultInstance().setup(XCGLogger::LogLevel::Verbose, true, true, false, true, true, true, true,
                                     std::nullopt, XCGLogger::LogLevel::Debug);

  // A missing or broken service list leaves the launch going on; the services it would have
  // configured stay off.
  std::optional<NSError> configurationError;
  required(ZODContext::sharedInstance(), "ZODContext")->configureWithError(&configurationError);

  required(DAZSignIn::sharedInstance(), "DAZSignIn")->setDelegate(ServiceLocator::shared().authenticationManager());

  // Transfers of background sessions an earlier run left: the fetchers pick them up (with no class
  // load hook here, start-up asks them).
  ZSDK_ZTKSessionFetcher::fetchersForBackgroundSessions();
  ZSDK_ZTKSessionUploadFetcher::uploadFetchersForBackgroundSessions();

  return required(FBSDKApplicationDelegate::sharedInstance(), "FBSDKApplicationDelegate")
      ->application(application.sharedAs<UIApplication>(), launchOptions);
}

bool AppDelegate::applicationOpenURL(UIApplication& application, const URL& url,
                                     const std::optional<std::string>& sourceApplication, const Value& annotation) {
  const std::optional<Value> note = annotation.isNull() ? std::nullopt : std::optional<Value>(annotation);
  if (required(FBSDKApplicationDelegate::sharedInstance(), "FBSDKApplicationDelegate")
          ->application(application.sharedAs<UIApplication>(), url, sourceApplication, note)) {
    return true;
  }
  return required(DAZSignIn::sharedInstance(), "DAZSignIn")->handleURL(url, sourceApplication, note);
}

void AppDelegate::applicationWillEnterForeground(UIApplication& /*application*/) {
  required(ServiceLocator::shared().lectureService(), "LectureService")->clearCache();
}

void AppDelegate::applicationHandleEventsForBackgroundURLSession(UIApplication& /*application*/,
                                                                 const std::string& identifier,
                                                                 std::function<void()> completionHandler) {
  ZSDK_ZTKSessionFetcher::applicationHandleEventsForBackgroundURLSession(identifier, std::move(completionHandler));
}

void AppDelegate::applicationWillTerminate(UIApplication& /*application*/) {
  constexpr TimeInterval kAnalyticsStoreWait = 2;
  ZAI::sharedInstance()->waitUntilStored(kAnalyticsStoreWait);
}
