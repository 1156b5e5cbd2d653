#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/url.h"
#include "platform/frameworks/fbsdk_login_manager.h"

// The login dialog as a web page (FBSDKSettings::loginDialogURL()) in the user's browser. The page
// sends the user back to a loopback redirect on 127.0.0.1 with the answer in its query: the
// `state` it was given and either `access_token` (with `user_id`, `expires_in`, `granted_scopes`
// and `denied_scopes` when known) or `error`. A refusal (error=access_denied) and a dialog left
// unanswered for `timeout` seconds are cancels.
class FBSDKWebLoginDialogPresenter : public FBSDKLoginDialogPresenter {
 public:
  explicit FBSDKWebLoginDialogPresenter(TimeInterval timeout = 300) : timeout_(timeout) {}

  void presentLoginDialog(const Request& request, Completion completion) override;

  // What one redirect (nothing: time ran out) answers to the dialog sent with `state`.
  static std::pair<std::shared_ptr<FBSDKLoginManagerLoginResult>, std::optional<NSError>> resultOfRedirect(
      const std::optional<URL>& redirect, const std::string& state, const std::vector<std::string>& permissions);

 private:
  TimeInterval timeout_;
};
