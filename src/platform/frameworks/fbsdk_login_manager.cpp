#include "platform/frameworks/fbsdk_login_manager.h"

#include <mutex>

#include "platform/foundation/run_loop.h"
#include "platform/keychain/unsaved_sign_in.h"

namespace {

struct PresenterSlot {
  std::mutex mutex;
  std::shared_ptr<FBSDKLoginDialogPresenter> presenter;
};

PresenterSlot& presenterSlot() {
  static auto* slot = new PresenterSlot;
  return *slot;
}

NSError dialogUnavailable() {
  return NSError(FBSDKLoginErrorDomain, static_cast<long>(FBSDKLoginErrorCode::DialogUnavailable),
                 {{NSLocalizedDescriptionKey, "The Facebook login dialog is not available."}});
}

}  // namespace

std::shared_ptr<FBSDKLoginDialogPresenter> FBSDKLoginDialogPresenter::current() {
  std::lock_guard lock(presenterSlot().mutex);
  return presenterSlot().presenter;
}

void FBSDKLoginDialogPresenter::setCurrent(std::shared_ptr<FBSDKLoginDialogPresenter> presenter) {
  std::lock_guard lock(presenterSlot().mutex);
  presenterSlot().presenter = std::move(presenter);
}

void FBSDKLoginManager::logInWithReadPermissions(const std::vector<std::string>& permissions,
                                                 const std::shared_ptr<UIViewController>& fromViewController,
                                                 RequestTokenHandler handler) {
  // Whatever the presenter does, the answer reaches the main loop once, on a later turn.
  auto finish = [handler = std::move(handler)](std::shared_ptr<FBSDKLoginManagerLoginResult> result,
                                               std::optional<NSError> error) {
    RunLoop::main().post([handler, result = std::move(result), error = std::move(error)] {
      // A token the cache cannot keep lasts as long as the handler keeps the sign-in.
      UndecidedSignIn undecided;
      if (!error && result && !result->isCancelled() && result->token()) {
        FBSDKAccessToken::setCurrentAccessToken(result->token());
      }
      if (handler) handler(result, error);
    });
  };
  auto presenter = FBSDKLoginDialogPresenter::current();
  if (!presenter) {
    finish(nullptr, dialogUnavailable());
    return;
  }
  auto once = std::make_shared<std::once_flag>();
  presenter->presentLoginDialog(
      {permissions, loginBehavior_, fromViewController},
      [once, finish](std::shared_ptr<FBSDKLoginManagerLoginResult> result, std::optional<NSError> error) {
        std::call_once(*once, finish, std::move(result), std::move(error));
      });
}

void FBSDKLoginManager::logOut() { FBSDKAccessToken::setCurrentAccessToken(nullptr); }
