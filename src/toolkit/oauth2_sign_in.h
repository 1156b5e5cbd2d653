#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/run_loop.h"
#include "platform/foundation/url.h"
#include "platform/foundation/value.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/net/network_reachability.h"
#include "platform/net/url_request.h"
#include "toolkit/oauth2_authentication.h"

// One authorization-code sign-in: builds the authorization request for the delegate to show,
// recognises the provider's answer among the pages the delegate loads, exchanges the code for
// tokens, fills in the user's identity and reports the end once. While the page shows it watches
// whether the provider can be reached. Runs on its delegate's thread (the main thread).
class ZSDK_ZTKOAuth2SignIn : public std::enable_shared_from_this<ZSDK_ZTKOAuth2SignIn> {
 public:
  using Auth = ZSDK_ZTKOAuth2Authentication;
  using Fetcher = ZSDK_ZTKSessionFetcher;
  using Form = Auth::Form;
  // Shows `request`; nothing closes the window.
  using WebRequestSelector = std::function<void(const std::shared_ptr<ZSDK_ZTKOAuth2SignIn>& signIn,
                                                const std::optional<URLRequest>& request)>;
  using FinishedSelector = std::function<void(const std::shared_ptr<ZSDK_ZTKOAuth2SignIn>& signIn,
                                              const std::shared_ptr<Auth>& auth, const std::optional<NSError>& error)>;

  // Where the provider lives: origins ("scheme://host[:port]") of its accounts and API hosts, and
  // the domain whose sub-domains turn on the e-mail fetch. Tests point them at a loopback server.
  struct ProviderHosts {
    std::string accountsOrigin = "https://accounts.zedodo.com";
    std::string apiOrigin = "https://api.zedodo.com";
    std::string cookieDomain = "zedodo.com";
  };
  static ProviderHosts providerHosts();
  static void setProviderHosts(ProviderHosts hosts);

  static constexpr const char* kServiceProvider = "Zedodo";

  static std::shared_ptr<ZSDK_ZTKOAuth2SignIn> initWithAuthentication(std::shared_ptr<Auth> auth,
                                                                      std::optional<URL> authorizationURL,
                                                                      std::shared_ptr<void> delegate,
                                                                      WebRequestSelector webRequestSelector,
                                                                      FinishedSelector finishedSelector);
  ZSDK_ZTKOAuth2SignIn() = default;
  virtual ~ZSDK_ZTKOAuth2SignIn();
  ZSDK_ZTKOAuth2SignIn(const ZSDK_ZTKOAuth2SignIn&) = delete;
  ZSDK_ZTKOAuth2SignIn& operator=(const ZSDK_ZTKOAuth2SignIn&) = delete;

  // The provider's fixed endpoints.
  static std::shared_ptr<Auth> standardZedodoAuthenticationForScope(std::optional<std::string> scope,
                                                                    std::optional<std::string> clientID,
                                                                    std::optional<std::string> clientSecret);
  static URL zedodoAuthorizationURL();
  static URL zedodoTokenURL();
  static URL zedodoRevocationURL();
  static URL zedodoUserInfoURL();
  static std::optional<std::string> nativeClientRedirectURI();
  static std::string userInfoEmailScope();
  static std::string userInfoProfileScope();
  // A token answer without an access token (or with an empty one): nothing was granted.
  static NSError missingAccessTokenError();

  std::shared_ptr<Auth> authentication() const { return authentication_; }
  std::optional<URL> authorizationURL() const { return authorizationURL_; }
  std::optional<Form> additionalAuthorizationParameters() const { return additionalAuthorizationParameters_; }
  // Extra query parameters; a `code_challenge` among them goes out with its method (S256 unless
  // one is given).
  void setAdditionalAuthorizationParameters(std::optional<Form> params) {
    additionalAuthorizationParameters_ = std::move(params);
  }
  bool hasHandledCallback() const { return hasHandledCallback_; }
  std::shared_ptr<Fetcher> pendingFetcher() const;
  bool shouldFetchZedodoUserEmail() const { return shouldFetchZedodoUserEmail_; }
  void setShouldFetchZedodoUserEmail(bool flag) { shouldFetchZedodoUserEmail_ = flag; }
  bool shouldFetchZedodoUserProfile() const { return shouldFetchZedodoUserProfile_; }
  void setShouldFetchZedodoUserProfile(bool flag) { shouldFetchZedodoUserProfile_ = flag; }
  std::optional<Value::Dictionary> userProfile() const { return userProfile_; }
  TimeInterval networkLossTimeoutInterval() const { return networkLossTimeoutInterval_; }
  // <= 0 turns the network watch off.
  void setNetworkLossTimeoutInterval(TimeInterval seconds) { networkLossTimeoutInterval_ = seconds; }
  std::any userData() const { return userData_; }
  void setUserData(std::any value) { userData_ = std::move(value); }

  // The authorization request.
  virtual bool startSigningIn();
  virtual std::optional<Form> parametersForWebRequest() const;
  bool startWebRequest();
  static URLRequest mutableURLRequestWithURL(const URL& url, const std::string& paramString);

  // The pages the delegate loads; true when the answer was recognised (or already handled).
  bool requestRedirectedToRequest(const URLRequest& request);
  virtual bool titleChanged(const std::string& title);
  virtual bool cookiesChanged(const std::shared_ptr<HTTPCookieStorage>&) { return false; }
  bool loadFailedWithError(const NSError& error);
  void windowWasClosed();
  void cancelSigningIn();
  void closeTheWindow();

  // Identity and revocation.
  static std::shared_ptr<Fetcher> userInfoFetcherWithAuth(const std::shared_ptr<Auth>& auth);
  void fetchZedodoUserInfo();
  void updateZedodoUserInfoWithData(const std::optional<Data>& data);
  // Revokes the refresh token at the provider (the outcome is not awaited) and always resets `auth`.
  static void revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth);
  static std::optional<Data> decodeWebSafeBase64(std::string_view base64);

  void finishSignInWithError(std::optional<NSError> error);

 protected:
  // Sets up a flow made by a subclass's initializer.
  void initialize(std::shared_ptr<Auth> auth, std::optional<URL> authorizationURL, std::shared_ptr<void> delegate,
                  WebRequestSelector webRequestSelector, FinishedSelector finishedSelector);
  // The receiving class's endpoints, for the class methods a subclass replaces.
  virtual std::optional<std::string> classNativeClientRedirectURI() const { return nativeClientRedirectURI(); }
  virtual URL classUserInfoURL() const { return zedodoUserInfoURL(); }
  // standardZedodoAuthenticationForScope with the endpoints of flow class F.
  template <class F>
  static std::shared_ptr<Auth> standardAuthenticationOf(std::optional<std::string> scope,
                                                        std::optional<std::string> clientID,
                                                        std::optional<std::string> clientSecret) {
    auto auth =
        Auth::authenticationWithServiceProvider(kServiceProvider, F::zedodoTokenURL(), F::nativeClientRedirectURI(),
                                                std::move(clientID), std::move(clientSecret));
    auth->setScope(std::move(scope));
    return auth;
  }
  static std::shared_ptr<Fetcher> userInfoFetcherForURL(const std::shared_ptr<Auth>& auth, const URL& userInfoURL);
  static void revokeTokenAtURL(const std::shared_ptr<Auth>& auth, const URL& revocationURL);
  void addScopeForZedodoUserInfo();
  void authCodeObtained();

 private:
  void mergeProviderAnswer(const Form& answer);
  void tokenFetchFinished(const std::optional<NSError>& error);
  bool signInWithIDToken();
  void userInfoFetchFinished(const std::shared_ptr<Fetcher>& fetcher, const std::optional<Data>& data,
                             const std::optional<NSError>& error);
  void setPendingFetcher(std::shared_ptr<Fetcher> fetcher);

  void startReachabilityCheck();
  void stopReachabilityCheck();
  void reachabilityChanged(NetworkReachabilityFlags flags);
  void networkLossTimerFired();

  std::shared_ptr<Auth> authentication_;
  std::optional<URL> authorizationURL_;
  std::optional<Form> additionalAuthorizationParameters_;
  std::shared_ptr<void> delegate_;
  WebRequestSelector webRequestSelector_;
  FinishedSelector finishedSelector_;
  std::atomic<bool> hasHandledCallback_ = false;
  mutable std::mutex pendingFetcherMutex_;
  std::shared_ptr<Fetcher> pendingFetcher_;
  bool shouldFetchZedodoUserEmail_ = false;
  bool shouldFetchZedodoUserProfile_ = false;
  std::optional<Value::Dictionary> userProfile_;
  std::shared_ptr<NetworkReachability> reachability_;
  std::shared_ptr<Timer> networkLossTimer_;
  TimeInterval networkLossTimeoutInterval_ = 30.0;
  bool hasNotifiedNetworkLoss_ = false;
  std::any userData_;
};
