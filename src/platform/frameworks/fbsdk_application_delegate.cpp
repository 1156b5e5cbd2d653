#include "platform/frameworks/fbsdk_application_delegate.h"

#include <algorithm>
#include <cctype>

#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/frameworks/fbsdk_web_login_dialog.h"

const std::shared_ptr<FBSDKApplicationDelegate>& FBSDKApplicationDelegate::sharedInstance() {
  static const auto* shared =
      new std::shared_ptr<FBSDKApplicationDelegate>(std::make_shared<FBSDKApplicationDelegate>());
  return *shared;
}

bool FBSDKApplicationDelegate::application(const std::shared_ptr<UIApplication>&,
                                           const std::optional<Value::Dictionary>&) {
  FBSDKAccessToken::startTokenCache();
  // The web dialog, unless a scripted one is in place already.
  if (!FBSDKLoginDialogPresenter::current())
    FBSDKLoginDialogPresenter::setCurrent(std::make_shared<FBSDKWebLoginDialogPresenter>());
  return true;
}

bool FBSDKApplicationDelegate::application(const std::shared_ptr<UIApplication>&, const URL& openURL,
                                           const std::optional<std::string>&, const std::optional<Value>&) {
  const auto appID = FBSDKSettings::appID();
  const auto scheme = openURL.scheme();
  if (!appID || appID->empty() || !scheme) return false;
  std::string expected = "fb" + *appID;
  std::transform(expected.begin(), expected.end(), expected.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return *scheme == expected;
}
