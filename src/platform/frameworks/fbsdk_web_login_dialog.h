#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/url.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/ui/external_browser.h"

// The login dialog as a web page (FBSDKSettings::loginDialogURL(), for the app id of
// FBSDKSettings::appID()) in the user's browser. The page sends the user back to a loopback
// redirect on 127.0.0.1 with the answer in its fragment or query: the `state` it was given and
// either `access_token` (with `user_id`, `expires_in`, `granted_scopes` and `denied_scopes` when
// known) or `error`. A refusal (error=access_denied) and a dialog given up through
// BrowserSignIns::cancelAll() are cancels; one left unanswered for `timeout` seconds fails with
// DialogTimedOut, so that the user hears why nothing came of it. Without an app id no
// dialog opens and the login fails with DialogUnavailable. The browser's last page is worded from
// the very result the login gets: the answer arrived (the program goes on with the sign-in),
// cancelled, or that error.
class FBSDKWebLoginDialogPresenter : public FBSDKLoginDialogPresenter {
 public:
  // Opens the dialog's page and tells the user where the sign-in waits; whether a browser came up.
  using Opener = std::function<bool(const URL& page, std::ostream& out)>;

  explicit FBSDKWebLoginDialogPresenter(TimeInterval timeout = 300, Opener openInBrowser = ExternalBrowser::open)
      : timeout_(timeout), openInBrowser_(std::move(openInBrowser)) {}

  void presentLoginDialog(const Request& request, Completion completion) override;
  // A dialog given up takes its receiver along: the page left in the browser finds nobody there.
  std::size_t giveUpWaitingDialogs(std::ostream& out) override;

  // What one redirect (nothing: time ran out) answers to the dialog sent with `state`.
  static std::pair<std::shared_ptr<FBSDKLoginManagerLoginResult>, std::optional<NSError>> resultOfRedirect(
      const std::optional<URL>& redirect, const std::string& state, const std::vector<std::string>& permissions);

 private:
  TimeInterval timeout_;
  Opener openInBrowser_;
  // The cancels of the dialogs this presenter opened; gone once a dialog has its answer.
  std::vector<std::weak_ptr<std::function<bool()>>> waiting_;
};
