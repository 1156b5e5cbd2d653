#include "platform/frameworks/fbsdk_web_login_dialog.h"

#include <fmt/format.h>

#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <utility>

#include "platform/foundation/run_loop.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/net/url_session.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/loopback_redirect_receiver.h"

namespace {

std::string randomState() {
  std::random_device device;
  std::string state;
  for (int i = 0; i < 4; ++i) state += fmt::format("{:08x}", device());
  return state;
}

NSError loginError(FBSDKLoginErrorCode code, std::string description) {
  return NSError(FBSDKLoginErrorDomain, static_cast<long>(code), {{NSLocalizedDescriptionKey, std::move(description)}});
}

std::set<std::string> scopes(const std::string& list) {
  std::set<std::string> names;
  std::stringstream in(list);
  for (std::string name; std::getline(in, name, ',');)
    if (!name.empty()) names.insert(name);
  return names;
}

std::string joined(const std::vector<std::string>& names) {
  std::string list;
  for (const auto& name : names) list += (list.empty() ? "" : ",") + name;
  return list;
}

}  // namespace

std::pair<std::shared_ptr<FBSDKLoginManagerLoginResult>, std::optional<NSError>>
FBSDKWebLoginDialogPresenter::resultOfRedirect(const std::optional<URL>& redirect, const std::string& state,
                                               const std::vector<std::string>& permissions) {
  if (!redirect) return {FBSDKLoginManagerLoginResult::cancelled(), std::nullopt};
  std::map<std::string, std::string> query;
  for (const auto& item : redirect->queryItems()) query.emplace(item.name, item.value.value_or(""));
  // Anyone on this machine can reach the loopback port; only the page we opened knows the state.
  if (query["state"] != state)
    return {nullptr, loginError(FBSDKLoginErrorCode::InvalidRedirect, "The login answer does not match the dialog.")};
  if (query.count("error")) {
    if (query["error"] == "access_denied") return {FBSDKLoginManagerLoginResult::cancelled(), std::nullopt};
    const std::string reason = query.count("error_description") ? query["error_description"] : query["error"];
    return {nullptr, loginError(FBSDKLoginErrorCode::DialogFailed, "The Facebook login failed: " + reason)};
  }
  if (query["access_token"].empty())
    return {nullptr, loginError(FBSDKLoginErrorCode::InvalidRedirect, "The login answer holds no access token.")};

  std::set<std::string> granted = query.count("granted_scopes")
                                      ? scopes(query["granted_scopes"])
                                      : std::set<std::string>(permissions.begin(), permissions.end());
  std::set<std::string> declined = scopes(query["denied_scopes"]);
  std::optional<Date> expiration;
  if (const double seconds = std::atof(query["expires_in"].c_str()); seconds > 0)
    expiration = Date{Date::now().timeIntervalSinceReferenceDate + seconds};
  auto token = std::make_shared<FBSDKAccessToken>(query["access_token"], granted, declined,
                                                  FBSDKSettings::appID().value_or(""), query["user_id"], expiration);
  return {
      std::make_shared<FBSDKLoginManagerLoginResult>(std::move(token), false, std::move(granted), std::move(declined)),
      std::nullopt};
}

namespace {

// One dialog waiting for its answer: done once the completion is gone.
struct PendingDialog {
  FBSDKLoginDialogPresenter::Completion completion;
  std::unique_ptr<LoopbackRedirectReceiver> receiver;
  // The answer counts as a transfer in flight, so whoever waits for the network waits for the
  // browser too; not when no browser came up, or the console would wait on every command.
  std::shared_ptr<void> inFlight = URLSession::holdTransferInFlight();
  std::shared_ptr<void> cancellable;
};

void finish(const std::shared_ptr<PendingDialog>& pending, std::shared_ptr<FBSDKLoginManagerLoginResult> result,
            std::optional<NSError> error) {
  if (!pending->completion) return;
  auto completion = std::exchange(pending->completion, nullptr);
  // Not from inside the receiver's own callback: the receiver goes on a later turn.
  RunLoop::main().post([done = std::make_shared<PendingDialog>(std::move(*pending))] {});
  completion(std::move(result), std::move(error));
}

}  // namespace

void FBSDKWebLoginDialogPresenter::presentLoginDialog(const Request& request, Completion completion) {
  const auto appID = FBSDKSettings::appID();
  if (!appID) {
    return completion(nullptr, loginError(FBSDKLoginErrorCode::DialogUnavailable,
                                          "Facebook sign-in is not set up: the application has no Facebook app id."));
  }
  auto pending = std::make_shared<PendingDialog>();
  pending->completion = std::move(completion);
  const std::string state = randomState();
  pending->receiver = LoopbackRedirectReceiver::start(
      timeout_, [pending, state, permissions = request.permissions](std::optional<URL> redirect) {
        auto [result, error] = resultOfRedirect(redirect, state, permissions);
        finish(pending, std::move(result), std::move(error));
      });
  if (!pending->receiver) {
    return finish(pending, nullptr,
                  loginError(FBSDKLoginErrorCode::DialogUnavailable, "The login dialog cannot listen for its answer."));
  }

  const std::vector<URLQueryItem> items{{"client_id", *appID},
                                        {"redirect_uri", pending->receiver->redirectURL().absoluteString()},
                                        {"state", state},
                                        {"response_type", "token"},
                                        {"scope", joined(request.permissions)}};
  const std::string base = FBSDKSettings::loginDialogURL();
  auto dialog =
      URL::URLWithString(base + (base.find('?') == std::string::npos ? "?" : "&") + percentEncodedQuery(items));
  if (!dialog) {
    return finish(
        pending, nullptr,
        loginError(FBSDKLoginErrorCode::DialogUnavailable, "The login dialog's address is not valid: " + base));
  }
  pending->cancellable = BrowserSignIns::add([weak = std::weak_ptr(pending)] {
    if (auto cancelled = weak.lock()) finish(cancelled, FBSDKLoginManagerLoginResult::cancelled(), std::nullopt);
  });
  // Without a browser the address was printed for the user; the wait goes on without holding the console.
  if (!openInBrowser_(*dialog, std::cout)) pending->inFlight.reset();
}
