#include "platform/frameworks/fbsdk_web_login_dialog.h"

#include <fmt/format.h>

#include <iostream>
#include <map>
#include <mutex>
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
  if (!redirect)
    return {nullptr, loginError(FBSDKLoginErrorCode::DialogTimedOut, "The Facebook sign-in was not completed.")};
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

using Outcome = std::pair<std::shared_ptr<FBSDKLoginManagerLoginResult>, std::optional<NSError>>;

// The browser's last page says what the program does with the answer. A token is only the first
// step: the backend has not been asked yet, so the page claims no more than that it arrived.
LoopbackRedirectReceiver::Verdict verdictOf(const Outcome& outcome) {
  if (!outcome.first) return {false, outcome.second ? outcome.second->localizedDescription() : "The sign-in failed."};
  if (outcome.first->isCancelled()) return {false, "The sign-in was cancelled."};
  return {true, "Facebook answered. Go back to the application to finish signing in."};
}

// The answer as the receiver's thread judged it for the page, kept for the program, so the page
// and the program cannot disagree.
struct JudgedAnswer {
  std::mutex mutex;
  bool settled = false;  // the program has had its outcome: a later answer is not used
  std::optional<Outcome> outcome;
  // From the page's answer until the program has it: the browser may end before the program
  // hears, and whoever waits for the network must not stop in between.
  std::shared_ptr<void> onItsWay;
};

// One dialog waiting for its answer: done once the completion is gone.
struct PendingDialog {
  FBSDKLoginDialogPresenter::Completion completion;
  std::shared_ptr<JudgedAnswer> judged = std::make_shared<JudgedAnswer>();
  std::unique_ptr<LoopbackRedirectReceiver> receiver;
  std::shared_ptr<void> cancellable;
  std::shared_ptr<std::function<bool()>> giveUp;  // what the presenter's list of waiting dialogs sees
};

// Hands the program the judged answer when the page has shown one (a cancel that comes after
// it included), else `otherwise`; whether that was `otherwise`.
bool finish(const std::shared_ptr<PendingDialog>& pending, Outcome otherwise) {
  if (!pending->completion) return false;
  bool judged = false;
  {
    std::lock_guard lock(pending->judged->mutex);
    pending->judged->settled = true;
    if (pending->judged->outcome) otherwise = std::move(*pending->judged->outcome), judged = true;
  }
  auto completion = std::exchange(pending->completion, nullptr);
  // Not from inside the receiver's own callback: the receiver goes on a later turn.
  RunLoop::main().post([done = std::make_shared<PendingDialog>(std::move(*pending))] {});
  completion(std::move(otherwise.first), std::move(otherwise.second));
  return !judged;
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
  const auto& permissions = request.permissions;
  pending->receiver = LoopbackRedirectReceiver::start(
      timeout_,
      [pending, judged = pending->judged, state, permissions](std::optional<URL> redirect) {
        std::shared_ptr<void> arrived;
        {
          std::lock_guard lock(judged->mutex);
          arrived = std::move(judged->onItsWay);
        }
        finish(pending, resultOfRedirect(redirect, state, permissions));
        // What the answer starts (the Graph API's call) holds the network from now on.
        RunLoop::main().post([arrived = std::move(arrived)] {});
      },
      [judged = pending->judged, state, permissions](const URL& redirect) {
        std::lock_guard lock(judged->mutex);
        if (judged->settled)
          return LoopbackRedirectReceiver::Verdict{
              false, "The application no longer waits for this sign-in, so the answer was not used."};
        judged->outcome = resultOfRedirect(redirect, state, permissions);
        judged->onItsWay = URLSession::holdTransferInFlight();
        return verdictOf(*judged->outcome);
      });
  if (!pending->receiver) {
    finish(pending, {nullptr, loginError(FBSDKLoginErrorCode::DialogUnavailable,
                                         "The login dialog cannot listen for its answer.")});
    return;
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
    finish(pending, {nullptr, loginError(FBSDKLoginErrorCode::DialogUnavailable,
                                         "The login dialog's address is not valid: " + base)});
    return;
  }
  // Whether it ended a dialog that still waited: one whose page took a token goes on with it.
  auto cancel = std::make_shared<std::function<bool()>>([weak = std::weak_ptr(pending)] {
    auto cancelled = weak.lock();
    return cancelled && finish(cancelled, {FBSDKLoginManagerLoginResult::cancelled(), std::nullopt});
  });
  pending->cancellable = BrowserSignIns::add("Facebook", [cancel] { return (*cancel)(); });
  pending->giveUp = cancel;
  std::erase_if(waiting_, [](const auto& other) { return other.expired(); });
  waiting_.push_back(cancel);
  // The wait goes on without holding anyone: the user may take minutes in the browser, or none came up.
  openInBrowser_(*dialog, std::cout);
}

std::size_t FBSDKWebLoginDialogPresenter::giveUpWaitingDialogs(std::ostream& out) {
  std::size_t givenUp = 0;
  for (const auto& dialog : std::exchange(waiting_, {}))
    if (auto cancel = dialog.lock(); cancel && (*cancel)()) ++givenUp;
  // Its tab in the browser will find nobody listening: the user hears why here.
  if (givenUp > 0) out << "The Facebook sign-in that waited in the browser was given up.\n" << std::flush;
  return givenUp;
}
