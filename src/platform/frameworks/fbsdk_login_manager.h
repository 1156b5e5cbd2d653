#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ns_error.h"
#include "platform/frameworks/fbsdk_login_manager_login_result.h"

class UIViewController;

inline constexpr const char* FBSDKLoginErrorDomain = "com.facebook.sdk.login";

enum class FBSDKLoginErrorCode : long {
  // No login dialog can be shown in this process.
  DialogUnavailable = 300,
  // The dialog answered with an error.
  DialogFailed = 301,
  // The dialog's answer is not one of ours, or holds no token.
  InvalidRedirect = 302,
  // The user did not finish the dialog in the time it waits.
  DialogTimedOut = 303,
};

enum class FBSDKLoginBehavior { Native = 0, Browser = 1, SystemAccount = 2, Web = 3 };

// Shows the Facebook login dialog and reports what the user did. The process has one; tests put
// a scripted one in place.
class FBSDKLoginDialogPresenter {
 public:
  struct Request {
    std::vector<std::string> permissions;
    FBSDKLoginBehavior behavior = FBSDKLoginBehavior::Native;
    std::shared_ptr<UIViewController> fromViewController;
  };
  // The result (cancelled, or a token) or the error; runs once, on any thread.
  using Completion =
      std::function<void(std::shared_ptr<FBSDKLoginManagerLoginResult> result, std::optional<NSError> error)>;

  virtual ~FBSDKLoginDialogPresenter() = default;
  virtual void presentLoginDialog(const Request& request, Completion completion) = 0;
  // Ends the dialogs still waiting for the user as cancelled ones, telling `out`; how many there
  // were. Main thread.
  virtual std::size_t giveUpWaitingDialogs(std::ostream& /*out*/) { return 0; }

  // nullptr: no dialog, every login fails with DialogUnavailable.
  static std::shared_ptr<FBSDKLoginDialogPresenter> current();
  static void setCurrent(std::shared_ptr<FBSDKLoginDialogPresenter> presenter);
};

// Logs the user in and out of Facebook. Main thread.
class FBSDKLoginManager {
 public:
  using RequestTokenHandler =
      std::function<void(std::shared_ptr<FBSDKLoginManagerLoginResult> result, std::optional<NSError> error)>;

  FBSDKLoginManager() = default;
  virtual ~FBSDKLoginManager() = default;

  FBSDKLoginBehavior loginBehavior() const { return loginBehavior_; }
  void setLoginBehavior(FBSDKLoginBehavior behavior) { loginBehavior_ = behavior; }

  // Shows the login dialog over `fromViewController`. The handler runs once on the main run loop,
  // never inside this call. A new token becomes the current access token before it runs; that the
  // keychain could not keep it is told after it, as the handler's sign-in went.
  virtual void logInWithReadPermissions(const std::vector<std::string>& permissions,
                                        const std::shared_ptr<UIViewController>& fromViewController,
                                        RequestTokenHandler handler);
  // Forgets the current access token.
  virtual void logOut();

 private:
  FBSDKLoginBehavior loginBehavior_ = FBSDKLoginBehavior::Native;
};
