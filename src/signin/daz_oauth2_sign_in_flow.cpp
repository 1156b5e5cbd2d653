#include "signin/daz_oauth2_sign_in_flow.h"

#include <iostream>

#include "platform/foundation/run_loop.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "platform/net/url_session.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/loopback_redirect_receiver.h"
#include "signin/daz_oauth2_support.h"
#include "signin/daz_oauth2_token_refresher.h"
#include "signin/daz_sign_in_error.h"
#include "signin/daz_zedodo_user.h"
#include "toolkit/oauth2_keychain.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"

using KeychainAuth = ZSDK_ZTKOAuth2KeychainAuth;
using daz_oauth2::kKeychainItemName;

namespace {

constexpr const char* kRedirectPath = "oauth2callback";
constexpr const char* kBaseScope = "openid";

// Lets `object` go on a later turn of the main run loop, not inside one of its own callbacks.
template <class T>
void releaseLater(T object) {
  RunLoop::main().post([kept = std::make_shared<T>(std::move(object))] {});
}

std::string stateOf(const URL& answer) {
  std::string state;
  for (const auto& item : answer.queryItems())
    if (item.name == "state") state = item.value.value_or("");
  return state;
}

}  // namespace

// What the receiver's thread and the program share of one sign-in's answer.
struct DAZOAuth2SignInFlow::Answer {
  std::mutex mutex;
  // The program no longer waits for it: the sign-in was given up or failed.
  bool ended = false;
  // From the page's answer until the program has it: the browser may end before the program
  // hears, and whoever waits for the network must not stop in between.
  std::shared_ptr<void> onItsWay;

  void end() {
    std::lock_guard lock(mutex);
    ended = true;
  }
  std::shared_ptr<void> arrived() {
    std::lock_guard lock(mutex);
    return std::move(onItsWay);
  }
  // What the browser's page says of an answer: only one to the sign-in we started, while the
  // program still waits for it, can complete it.
  static LoopbackRedirectReceiver::Judge pageWording(std::shared_ptr<Answer> shared, std::string state) {
    return [shared = std::move(shared),
            state = std::move(state)](const URL& answer) -> LoopbackRedirectReceiver::Verdict {
      if (answer.path() != std::string("/") + kRedirectPath || !daz_oauth2::constantTimeEquals(stateOf(answer), state))
        return {false, "This answer does not belong to the sign-in the application started, so it was not used."};
      std::lock_guard lock(shared->mutex);
      if (shared->ended)
        return {false, "The application no longer waits for this sign-in, so the answer was not used."};
      shared->onItsWay = URLSession::holdTransferInFlight();
      return LoopbackRedirectReceiver::answerVerdict(answer);
    };
  }
};

// One interactive sign-in waiting for the browser, then for the token exchange.
struct DAZOAuth2SignInFlow::Pending {
  std::uint64_t attempt = 0;
  std::string state;
  std::string verifier;
  std::unique_ptr<LoopbackRedirectReceiver> receiver;
  std::shared_ptr<ZSDK_ZTKOAuth2SignIn> flow;
  Completion completion;
  // The browser's answer was taken; later ones are not this sign-in's.
  bool answered = false;
  std::shared_ptr<Answer> answer = std::make_shared<Answer>();
  // Once the answer is taken, redeeming it is network work until the sign-in ends.
  std::shared_ptr<void> redeeming;
  // Registered until the sign-in ends.
  std::shared_ptr<void> cancellable;
};

bool DAZOAuth2SignInFlow::configureProviderFromEnvironment(const Environment& environment) {
  const char* value = environment(kProviderURLVariable);
  if (!value || !*value) return true;
  std::string base = value;
  while (base.ends_with('/')) base.pop_back();
  const auto url = URL::URLWithString(base);
  if (!url || !url->host() || (url->scheme() != "http" && url->scheme() != "https")) return false;
  auto hosts = ZSDK_ZTKOAuth2SignIn::providerHosts();
  hosts.accountsOrigin = base;
  hosts.apiOrigin = base;
  ZSDK_ZTKOAuth2SignIn::setProviderHosts(hosts);
  return true;
}

DAZOAuth2SignInFlow::DAZOAuth2SignInFlow(ClientID clientID, PageOpener opener, TimeInterval browserTimeout,
                                         TimeInterval keychainLockTimeout)
    : clientID_(std::move(clientID)),
      opener_(opener ? std::move(opener) : [](const URL& page) { return ExternalBrowser::open(page, std::cout); }),
      browserTimeout_(browserTimeout),
      keychainLockTimeout_(keychainLockTimeout) {}

DAZOAuth2SignInFlow::~DAZOAuth2SignInFlow() = default;

std::shared_ptr<ZSDK_ZTKSessionFetcherService> DAZOAuth2SignInFlow::service() {
  std::lock_guard lock(mutex_);
  if (!service_) service_ = daz_oauth2::providerFetcherService();
  return service_;
}

std::shared_ptr<DAZZedodoUser> DAZOAuth2SignInFlow::userFor(const std::shared_ptr<Auth>& auth,
                                                            const Value::Dictionary& profile) {
  auto authentication = std::make_shared<DAZAuthentication>(
      auth->clientID().value_or(""), auth->accessToken(), auth->expirationDate().value_or(Date::now()),
      auth->refreshToken(), std::make_shared<DAZOAuth2TokenRefresher>(auth, service(), keychainLockTimeout_));
  return std::make_shared<DAZZedodoUser>(auth->userID(), std::move(authentication),
                                         profile.empty() ? nullptr : daz_oauth2::profileFromDictionary(profile));
}

// Interactive sign-in.

void DAZOAuth2SignInFlow::signIn(const std::shared_ptr<DAZSignInUIDelegate>&, Completion completion) {
  RunLoop::main().post(
      [self = shared_from_this(), completion = std::move(completion)] { self->startInteractive(completion); });
}

void DAZOAuth2SignInFlow::startInteractive(Completion completion) {
  const std::string clientID = clientID_();
  if (clientID.empty()) {
    completion(nullptr, dazSignInError(DAZSignInErrorCode::Unknown, "Zedodo sign-in has no client id configured."));
    return;
  }
  failPending(takePending(), dazSignInError(DAZSignInErrorCode::Canceled, "A new Zedodo sign-in replaced this one."));

  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard lock(mutex_);
    pending->attempt = ++attempts_;
  }
  const auto attempt = pending->attempt;
  pending->state = daz_oauth2::randomWebSafeText(16);
  pending->verifier = daz_oauth2::randomWebSafeText(32);
  pending->completion = std::move(completion);
  std::weak_ptr<DAZOAuth2SignInFlow> weak = shared_from_this();
  pending->receiver = LoopbackRedirectReceiver::start(
      browserTimeout_,
      [weak, attempt, answer = pending->answer](std::optional<URL> redirect) {
        auto arrived = answer->arrived();
        if (auto self = weak.lock()) self->receiverAnswered(attempt, redirect);
      },
      Answer::pageWording(pending->answer, pending->state));
  if (!pending->receiver) {
    pending->completion(
        nullptr, dazSignInError(DAZSignInErrorCode::Unknown, "Zedodo sign-in cannot listen for the browser's answer."));
    return;
  }

  auto auth = ZSDK_ZTKOAuth2SignIn::standardZedodoAuthenticationForScope(kBaseScope, clientID, std::nullopt);
  auth->setRedirectURI(pending->receiver->redirectURL(kRedirectPath).absoluteString());
  auth->setFetcherService(service());
  // A provider on this machine speaks plain http.
  if (daz_oauth2::providerIsLoopback()) auth->setShouldAuthorizeAllRequests(true);
  pending->flow = ZSDK_ZTKOAuth2SignIn::initWithAuthentication(
      auth, ZSDK_ZTKOAuth2SignIn::zedodoAuthorizationURL(), std::make_shared<std::uint64_t>(attempt),
      // The wait goes on without holding anyone: the user may take minutes in the browser, or none came up.
      [opener = opener_](const auto&, const std::optional<URLRequest>& request) {
        if (request && request->url) opener(*request->url);
      },
      [weak, attempt](const auto&, const std::shared_ptr<Auth>& signedIn, const std::optional<NSError>& error) {
        if (auto self = weak.lock()) self->interactiveFinished(attempt, signedIn, error);
      });
  pending->flow->setShouldFetchZedodoUserEmail(true);
  pending->flow->setShouldFetchZedodoUserProfile(true);
  // The page is in the browser, not here: there is no page load to watch the network for.
  pending->flow->setNetworkLossTimeoutInterval(0);
  pending->flow->setAdditionalAuthorizationParameters(
      Auth::Form{{"state", pending->state},
                 {"code_challenge", daz_oauth2::codeChallengeS256(pending->verifier)},
                 {"code_challenge_method", "S256"}});
  pending->cancellable = BrowserSignIns::add("Zedodo", [weak, attempt] {
    auto self = weak.lock();
    auto cancelled = self ? self->takePending(attempt) : nullptr;
    if (!cancelled) return false;
    self->failPending(cancelled, dazSignInError(DAZSignInErrorCode::Canceled, "The Zedodo sign-in was cancelled."));
    return true;
  });
  {
    std::lock_guard lock(mutex_);
    pending_ = pending;
  }
  pending->flow->startSigningIn();
}

bool DAZOAuth2SignInFlow::handleURL(const URL& url, const std::optional<std::string>&, const std::optional<Value>&) {
  std::shared_ptr<Pending> pending;
  {
    std::lock_guard lock(mutex_);
    pending = pending_;
    if (!pending || pending->answered || !pending->receiver) return false;
    const URL redirect = pending->receiver->redirectURL(kRedirectPath);
    if (url.scheme() != redirect.scheme() || url.host() != redirect.host() || url.port() != redirect.port() ||
        url.path() != redirect.path())
      return false;
    pending->answered = true;
    pending->redeeming = URLSession::holdTransferInFlight();
  }
  // Anything on this machine can reach the loopback port; only the page we opened knows the state.
  if (!daz_oauth2::constantTimeEquals(stateOf(url), pending->state)) {
    failPending(takePending(pending->attempt),
                dazSignInError(DAZSignInErrorCode::Unknown, "The Zedodo sign-in answer does not match the request."));
    return true;
  }
  releaseLater(std::move(pending->receiver));
  // Still cancellable while the answer is redeemed: a sign-in by another road meanwhile must end
  // this one before its token is kept.
  pending->flow->authentication()->setAdditionalTokenRequestParameters(
      Auth::Form{{"code_verifier", pending->verifier}});
  pending->flow->requestRedirectedToRequest(URLRequest(url));
  return true;
}

void DAZOAuth2SignInFlow::receiverAnswered(std::uint64_t attempt, const std::optional<URL>& redirect) {
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || pending_->attempt != attempt || pending_->answered) return;
  }
  // Where no application handled the redirect (no delegate), it is handled here.
  if (redirect && handleURL(*redirect, std::nullopt, std::nullopt)) return;
  failPending(takePending(attempt),
              redirect ? dazSignInError(DAZSignInErrorCode::Unknown, "The browser came back to an unknown address.")
                       : dazSignInError(DAZSignInErrorCode::Canceled, "The Zedodo sign-in was not completed."));
}

std::shared_ptr<DAZOAuth2SignInFlow::Pending> DAZOAuth2SignInFlow::takePending(std::optional<std::uint64_t> attempt) {
  std::lock_guard lock(mutex_);
  if (!pending_ || (attempt && pending_->attempt != *attempt)) return nullptr;
  return std::move(pending_);
}

void DAZOAuth2SignInFlow::failPending(const std::shared_ptr<Pending>& pending, NSError error) {
  if (!pending) return;
  pending->answer->end();
  pending->flow->cancelSigningIn();
  auto completion = std::move(pending->completion);
  releaseLater(pending);
  completion(nullptr, std::move(error));
}

void DAZOAuth2SignInFlow::interactiveFinished(std::uint64_t attempt, const std::shared_ptr<Auth>& auth,
                                              const std::optional<NSError>& error) {
  auto pending = takePending(attempt);
  if (!pending) return;
  releaseLater(pending);
  auth->setAdditionalTokenRequestParameters(std::nullopt);
  if (error || auth->accessToken().value_or("").empty()) {
    const NSError failure = error ? *error : ZSDK_ZTKOAuth2SignIn::missingAccessTokenError();
    pending->completion(nullptr, daz_oauth2::describedError(failure, "Zedodo sign-in failed"));
    return;
  }
  const auto profile = pending->flow->userProfile().value_or(Value::Dictionary{});
  // Whether the sign-in lasts is known once the delegate has kept its token, or not.
  if (!KeychainAuth::saveParamsToKeychainForName(kKeychainItemName, auth))
    reportUnsavedSignIn(UnsavedSignIn::Undecided);
  daz_oauth2::storeProfile(profile);
  pending->completion(userFor(auth, profile), std::nullopt);
}

// Silent sign-in.

void DAZOAuth2SignInFlow::signInSilently(Completion completion) {
  RunLoop::main().post(
      [self = shared_from_this(), completion = std::move(completion)] { self->startSilent(completion); });
}

void DAZOAuth2SignInFlow::startSilent(Completion completion) {
  DAZOAuth2StoredGrant::Request request;
  request.clientID = clientID_();
  request.service = service();
  request.lockTimeout = keychainLockTimeout_;
  // One renewal per start: a refused grant ends the stored sign-in instead of being tried again.
  request.forgetRefusedGrant = true;
  DAZOAuth2StoredGrant::renew(std::move(request),
                              [self = shared_from_this(), completion](const DAZOAuth2StoredGrant::Outcome& outcome) {
                                self->silentFinished(outcome, completion);
                              });
}

void DAZOAuth2SignInFlow::silentFinished(const DAZOAuth2StoredGrant::Outcome& outcome, const Completion& completion) {
  if (outcome.error) {
    completion(nullptr, daz_oauth2::describedError(*outcome.error, "The previous Zedodo sign-in could not be restored"));
    return;
  }
  if (!outcome.stillStored) {
    // Signed out while the answer was on its way: what it granted goes back, unused.
    KeychainAuth::revokeTokenForZedodoAuthentication(outcome.auth);
    completion(nullptr, dazSignedOutError());
    return;
  }
  completion(userFor(outcome.auth, daz_oauth2::storedProfile().value_or(Value::Dictionary{})), std::nullopt);
}

// What the keychain keeps.

bool DAZOAuth2SignInFlow::hasAuthInKeychain() const {
  return KeychainAuth::authForZedodoFromKeychainForName(kKeychainItemName, clientID_(), std::nullopt)->canAuthorize();
}

void DAZOAuth2SignInFlow::signOut() {
  auto auth = KeychainAuth::authForZedodoFromKeychainForName(kKeychainItemName, clientID_(), std::nullopt);
  auto fetchers = service();
  if (auth->canAuthorize()) {
    auth->setFetcherService(fetchers);
    KeychainAuth::revokeTokenForZedodoAuthentication(auth);
  }
  daz_oauth2::forgetStoredSignIn();
  if (const auto cookies = fetchers->cookieStorage) {
    for (const auto& cookie : cookies->cookies()) cookies->deleteCookie(cookie);
  }
}
