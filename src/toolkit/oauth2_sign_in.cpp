#include "toolkit/oauth2_sign_in.h"

#include <fmt/format.h>

#include "platform/foundation/ascii.h"
#include "platform/foundation/notification_center.h"
#include "toolkit/oauth2_internal.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_constants.h"

namespace {

using ztk_fetcher_detail::nonEmpty;

// Same host (hosts know no case) and same path.
bool sameHostAndPath(const URL& a, const URL& b) {
  return a.host() && b.host() && asciiEqualIgnoringCase(*a.host(), *b.host()) && a.path() == b.path();
}

}  // namespace

std::shared_ptr<ZSDK_ZTKOAuth2SignIn> ZSDK_ZTKOAuth2SignIn::initWithAuthentication(
    std::shared_ptr<Auth> auth, std::optional<URL> authorizationURL, std::shared_ptr<void> delegate,
    WebRequestSelector webRequestSelector, FinishedSelector finishedSelector) {
  auto signIn = std::make_shared<ZSDK_ZTKOAuth2SignIn>();
  signIn->initialize(std::move(auth), std::move(authorizationURL), std::move(delegate), std::move(webRequestSelector),
                     std::move(finishedSelector));
  return signIn;
}

void ZSDK_ZTKOAuth2SignIn::initialize(std::shared_ptr<Auth> auth, std::optional<URL> authorizationURL,
                                      std::shared_ptr<void> delegate, WebRequestSelector webRequestSelector,
                                      FinishedSelector finishedSelector) {
  authentication_ = std::move(auth);
  authorizationURL_ = std::move(authorizationURL);
  delegate_ = std::move(delegate);
  webRequestSelector_ = std::move(webRequestSelector);
  finishedSelector_ = std::move(finishedSelector);
  const auto host = authorizationURL_ ? authorizationURL_->host() : std::nullopt;
  const std::string suffix = "." + providerHosts().cookieDomain;
  shouldFetchZedodoUserEmail_ = host && host->ends_with(suffix);
}

ZSDK_ZTKOAuth2SignIn::~ZSDK_ZTKOAuth2SignIn() { stopReachabilityCheck(); }

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKOAuth2SignIn::pendingFetcher() const {
  std::lock_guard lock(pendingFetcherMutex_);
  return pendingFetcher_;
}

void ZSDK_ZTKOAuth2SignIn::setPendingFetcher(std::shared_ptr<Fetcher> fetcher) {
  std::lock_guard lock(pendingFetcherMutex_);
  pendingFetcher_ = std::move(fetcher);
}

bool ZSDK_ZTKOAuth2SignIn::startSigningIn() {
  addScopeForZedodoUserInfo();
  return startWebRequest();
}

void ZSDK_ZTKOAuth2SignIn::addScopeForZedodoUserInfo() {
  const auto addScope = [this](const std::string& wanted) {
    const auto scope = authentication_->scope();
    if (!scope || scope->find(wanted) != std::string::npos) return;
    authentication_->setScope(Auth::scopeWithStrings({*scope, wanted}));
  };
  if (shouldFetchZedodoUserEmail_) addScope(userInfoEmailScope());
  if (shouldFetchZedodoUserProfile_) addScope(userInfoProfileScope());
}

std::optional<ZSDK_ZTKOAuth2SignIn::Form> ZSDK_ZTKOAuth2SignIn::parametersForWebRequest() const {
  const auto clientID = authentication_->clientID();
  const auto redirectURI = authentication_->redirectURI();
  if (!nonEmpty(clientID)) return std::nullopt;
  // Only a provider without a fixed native redirect lets the redirect go unnamed.
  if (!nonEmpty(redirectURI) && (redirectURI || classNativeClientRedirectURI())) return std::nullopt;
  Form params{{"response_type", "code"}, {"client_id", *clientID}};
  if (auto scope = authentication_->scope(); nonEmpty(scope)) params["scope"] = *scope;
  if (redirectURI) params["redirect_uri"] = *redirectURI;
  return params;
}

bool ZSDK_ZTKOAuth2SignIn::startWebRequest() {
  if (!authorizationURL_) return false;
  auto params = parametersForWebRequest();
  if (params && additionalAuthorizationParameters_) {
    for (const auto& [key, value] : *additionalAuthorizationParameters_) (*params)[key] = value;
  }
  // Without its method a challenge is taken as plain text and the code exchange then fails.
  if (params && params->count("code_challenge") && !params->count("code_challenge_method")) {
    (*params)["code_challenge_method"] = "S256";
  }
  const auto paramString = params ? Auth::encodedQueryParametersForDictionary(*params) : std::string();
  const auto request = mutableURLRequestWithURL(*authorizationURL_, paramString);
  if (delegate_ && webRequestSelector_) webRequestSelector_(shared_from_this(), request);
  startReachabilityCheck();
  return true;
}

URLRequest ZSDK_ZTKOAuth2SignIn::mutableURLRequestWithURL(const URL& url, const std::string& paramString) {
  if (paramString.empty()) return URLRequest(url);
  const auto query = url.query() ? fmt::format("{}&{}", *url.query(), paramString) : paramString;
  const auto host = url.host().value_or("");
  const auto bracketed = host.find(':') != std::string::npos ? fmt::format("[{}]", host) : host;
  const auto port = url.port() ? fmt::format(":{}", *url.port()) : std::string();
  const auto text =
      fmt::format("{}://{}{}{}{}{}", url.scheme().value_or(""), bracketed, port, url.percentEncodedPath(), "?", query);
  if (auto rebuilt = URL::URLWithString(text)) return URLRequest(*rebuilt);
  return URLRequest(url);
}

bool ZSDK_ZTKOAuth2SignIn::requestRedirectedToRequest(const URLRequest& request) {
  const auto redirectURI = authentication_->redirectURI();
  if (!nonEmpty(redirectURI) || redirectURI == classNativeClientRedirectURI() || !request.url) return false;
  const URL& pageURL = *request.url;
  bool matches = false;
  if (pageURL.host() && !pageURL.path().empty()) {
    const auto redirectURL = URL::URLWithString(*redirectURI);
    matches = redirectURL && sameHostAndPath(pageURL, *redirectURL);
  } else {
    matches = pageURL.absoluteString() == *redirectURI;
  }
  if (!matches) return false;
  if (hasHandledCallback_) return true;
  if (auto answer = Auth::dictionaryWithResponseString(pageURL.query())) mergeProviderAnswer(*answer);
  authCodeObtained();
  return true;
}

bool ZSDK_ZTKOAuth2SignIn::titleChanged(const std::string& title) {
  const auto blank = title.rfind(' ');
  if (blank == std::string::npos) return false;
  const auto answer = Auth::dictionaryWithResponseString(std::string_view(title).substr(blank + 1));
  if (!answer) return false;
  const auto field = [&](const char* key) {
    const auto it = answer->find(key);
    return it != answer->end() && !it->second.empty();
  };
  if (!field("code") && !field("error")) return false;
  if (hasHandledCallback_) return true;
  mergeProviderAnswer(*answer);
  authCodeObtained();
  return true;
}

// Identity is taken only from the token endpoint's answer: an ID token in the page's answer
// could be forged by whoever crafted the redirect.
void ZSDK_ZTKOAuth2SignIn::mergeProviderAnswer(const Form& answer) {
  Value::Dictionary dict;
  for (const auto& [key, value] : answer) {
    if (key != "id_token") dict.emplace(key, value);
  }
  authentication_->setKeysForResponseDictionary(dict);
}

void ZSDK_ZTKOAuth2SignIn::authCodeObtained() {
  hasHandledCallback_ = true;
  if (webRequestSelector_) {
    closeTheWindow();
  } else {
    addScopeForZedodoUserInfo();
  }
  if (!nonEmpty(authentication_->code())) {
    Value::Dictionary userInfo;
    if (auto text = authentication_->errorString(); nonEmpty(text)) userInfo[kZTKOAuth2ErrorMessageKey] = *text;
    // The provider's own words, as a token endpoint's error answer carries them.
    const auto parameters = authentication_->parameters();
    if (const auto said = parameters.find("error_description");
        said != parameters.end() && said->second.asString() && !said->second.asString()->empty()) {
      Value::Dictionary answer{{"error_description", said->second}};
      if (const auto error = parameters.find("error"); error != parameters.end()) answer.emplace("error", error->second);
      userInfo[kZTKOAuth2ErrorJSONKey] = Value(std::move(answer));
    }
    finishSignInWithError(NSError(kZTKOAuth2ErrorDomain, ZTKOAuth2ErrorAuthorizationFailed, std::move(userInfo)));
    return;
  }
  auto self = shared_from_this();
  std::weak_ptr<ZSDK_ZTKOAuth2SignIn> weak = self;
  auto fetcher =
      authentication_->beginTokenFetchWithDelegate(self, [weak](const auto&, const auto&, const auto& error) {
        if (auto signIn = weak.lock()) signIn->tokenFetchFinished(error);
      });
  setPendingFetcher(fetcher);
  NotificationCenter::defaultCenter()->postNotificationName(kZTKOAuth2UserSignedIn, self);
  if (!fetcher) finishSignInWithError(NSError(kZTKSessionFetcherStatusDomain, -1));
}

NSError ZSDK_ZTKOAuth2SignIn::missingAccessTokenError() {
  return NSError(kZTKOAuth2ErrorDomain, ZTKOAuth2ErrorAuthorizationFailed,
                 {{kZTKOAuth2ErrorMessageKey, "no access token in the provider's answer"}});
}

void ZSDK_ZTKOAuth2SignIn::tokenFetchFinished(const std::optional<NSError>& error) {
  setPendingFetcher(nullptr);
  if (error) {
    finishSignInWithError(error);
  } else if (!nonEmpty(authentication_->accessToken())) {
    finishSignInWithError(missingAccessTokenError());
  } else if ((shouldFetchZedodoUserEmail_ || shouldFetchZedodoUserProfile_) &&
             authentication_->serviceProvider() == kServiceProvider) {
    fetchZedodoUserInfo();
  } else {
    finishSignInWithError(std::nullopt);
  }
}

bool ZSDK_ZTKOAuth2SignIn::loadFailedWithError(const NSError& error) {
  const auto failing = [&]() -> std::optional<URL> {
    for (const char* key : {NSURLErrorFailingURLStringErrorKey, NSURLErrorFailingURLErrorKey}) {
      const auto it = error.userInfo.find(key);
      if (it != error.userInfo.end() && it->second.asString()) return URL::URLWithString(*it->second.asString());
    }
    return std::nullopt;
  }();
  if (!failing || !authorizationURL_ || !sameHostAndPath(*failing, *authorizationURL_)) return false;
  closeTheWindow();
  finishSignInWithError(error);
  return true;
}

void ZSDK_ZTKOAuth2SignIn::windowWasClosed() {
  stopReachabilityCheck();
  finishSignInWithError(NSError(kZTKOAuth2ErrorDomain, ZTKOAuth2ErrorWindowClosed));
}

void ZSDK_ZTKOAuth2SignIn::cancelSigningIn() {
  std::shared_ptr<Fetcher> fetcher;
  {
    std::lock_guard lock(pendingFetcherMutex_);
    fetcher = std::move(pendingFetcher_);
    pendingFetcher_.reset();
  }
  if (fetcher) fetcher->stopFetching();
  authentication_->stopAuthorization();
  closeTheWindow();
  delegate_.reset();
}

void ZSDK_ZTKOAuth2SignIn::closeTheWindow() {
  stopReachabilityCheck();
  if (delegate_ && webRequestSelector_) webRequestSelector_(shared_from_this(), std::nullopt);
}

void ZSDK_ZTKOAuth2SignIn::finishSignInWithError(std::optional<NSError> error) {
  // Held for the call: the delegate may let go of this flow inside it.
  const auto self = shared_from_this();
  const auto delegate = std::move(delegate_);
  delegate_.reset();
  if (delegate && finishedSelector_) finishedSelector_(self, authentication_, error);
}

void ZSDK_ZTKOAuth2SignIn::startReachabilityCheck() {
  if (networkLossTimeoutInterval_ <= 0 || reachability_ || !authorizationURL_) return;
  auto reachability = NetworkReachability::createWithName(authorizationURL_->host().value_or(""));
  if (!reachability) return;
  std::weak_ptr<ZSDK_ZTKOAuth2SignIn> weak = shared_from_this();
  reachability->setCallback([weak](NetworkReachabilityFlags flags) {
    if (auto self = weak.lock()) self->reachabilityChanged(flags);
  });
  if (!reachability->scheduleWithRunLoop(RunLoop::main())) return;
  reachability_ = std::move(reachability);
}

void ZSDK_ZTKOAuth2SignIn::stopReachabilityCheck() {
  if (networkLossTimer_) networkLossTimer_->invalidate();
  networkLossTimer_.reset();
  if (reachability_) reachability_->unscheduleFromRunLoop();
  reachability_.reset();
}

void ZSDK_ZTKOAuth2SignIn::reachabilityChanged(NetworkReachabilityFlags flags) {
  if (flags.reachable && !flags.connectionRequired) {
    if (networkLossTimer_) networkLossTimer_->invalidate();
    networkLossTimer_.reset();
    if (hasNotifiedNetworkLoss_) {
      hasNotifiedNetworkLoss_ = false;
      NotificationCenter::defaultCenter()->postNotificationName(kZTKOAuthNetworkFound, shared_from_this());
    }
    return;
  }
  if (networkLossTimer_ || hasNotifiedNetworkLoss_) return;
  std::weak_ptr<ZSDK_ZTKOAuth2SignIn> weak = shared_from_this();
  networkLossTimer_ = RunLoop::main().scheduledTimer(networkLossTimeoutInterval_, false, [weak](Timer&) {
    if (auto self = weak.lock()) self->networkLossTimerFired();
  });
}

void ZSDK_ZTKOAuth2SignIn::networkLossTimerFired() {
  networkLossTimer_.reset();
  if (hasNotifiedNetworkLoss_) return;
  hasNotifiedNetworkLoss_ = true;
  NotificationCenter::defaultCenter()->postNotificationName(kZTKOAuthNetworkLost, shared_from_this());
}
