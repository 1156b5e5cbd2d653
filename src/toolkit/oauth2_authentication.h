#pragma once

#include <any>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/foundation/value.h"
#include "platform/net/url_request.h"
#include "toolkit/fetcher_authorization_protocol.h"
#include "toolkit/oauth2_constants.h"

class ZSDK_ZTKSessionFetcher;

namespace ztk_fetcher_detail {
// The refresh rule: a refreshable authorization refreshes first when it has no access token, no
// expiry, or less than `threshold` seconds left.
bool accessTokenNeedsRefresh(bool refreshable, bool hasAccessToken, std::optional<Date> expirationDate, Date now,
                             TimeInterval threshold = 60.0);
}  // namespace ztk_fetcher_detail

// One request waiting to be signed. Touched only under the authorization's queue lock, or by the
// one path that took it off the queue.
struct ZSDK_ZTKOAuth2AuthorizationArgs {
  std::shared_ptr<URLRequest> request;
  std::shared_ptr<void> delegate;
  ZTKFetcherAuthorizationProtocol::DidFinishSelector selector;
  ZTKFetcherAuthorizationProtocol::CompletionHandler completionHandler;
  std::thread::id thread;
  std::optional<NSError> error;

  static std::shared_ptr<ZSDK_ZTKOAuth2AuthorizationArgs> argsWithRequest(
      std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
      ZTKFetcherAuthorizationProtocol::DidFinishSelector selector,
      ZTKFetcherAuthorizationProtocol::CompletionHandler completionHandler, std::thread::id thread);
};

// One OAuth 2 authorization: its tokens and identity, and the signing of requests with them,
// refreshing the access token first through one token request at a time.
//
// Locks: the queue lock covers the waiting requests and the refresh in flight; the field lock
// (a leaf) covers every stored value. Neither is held while calling out: notifications and
// callbacks go out after the lock is released, in order, on the thread that caused them.
class ZSDK_ZTKOAuth2Authentication : public ZTKFetcherAuthorizationProtocol,
                                     public std::enable_shared_from_this<ZSDK_ZTKOAuth2Authentication> {
 public:
  using Fetcher = ZSDK_ZTKSessionFetcher;
  using Args = ZSDK_ZTKOAuth2AuthorizationArgs;
  // Form fields (and decoded form answers): name -> text.
  using Form = std::map<std::string, std::string>;
  // A token request's finished selector: (authorization, fetcher, error).
  using TokenFetchSelector =
      std::function<void(const std::shared_ptr<ZSDK_ZTKOAuth2Authentication>& auth,
                         const std::shared_ptr<Fetcher>& fetcher, const std::optional<NSError>& error)>;
  using Properties = std::map<std::string, std::any>;
  // Grant type -> extra form fields for that grant.
  using GrantTypeParameters = std::map<std::string, Form>;

  static std::shared_ptr<ZSDK_ZTKOAuth2Authentication> create();
  static std::shared_ptr<ZSDK_ZTKOAuth2Authentication> authenticationWithServiceProvider(
      std::optional<std::string> serviceProvider, std::optional<URL> tokenURL, std::optional<std::string> redirectURI,
      std::optional<std::string> clientID, std::optional<std::string> clientSecret);

  ZSDK_ZTKOAuth2Authentication() = default;
  ZSDK_ZTKOAuth2Authentication(const ZSDK_ZTKOAuth2Authentication&) = delete;
  ZSDK_ZTKOAuth2Authentication& operator=(const ZSDK_ZTKOAuth2Authentication&) = delete;

  // Stored fields.
  std::optional<std::string> clientID() const;
  void setClientID(std::optional<std::string> value);
  std::optional<std::string> clientSecret() const;
  void setClientSecret(std::optional<std::string> value);
  std::optional<std::string> redirectURI() const;
  void setRedirectURI(std::optional<std::string> value);
  std::optional<URL> tokenURL() const;
  void setTokenURL(std::optional<URL> value);
  std::optional<Date> expirationDate() const;
  void setExpirationDate(std::optional<Date> value);
  std::optional<std::string> authorizationTokenKey() const;
  void setAuthorizationTokenKey(std::optional<std::string> value);
  std::optional<Form> additionalTokenRequestParameters() const;
  void setAdditionalTokenRequestParameters(std::optional<Form> value);
  std::optional<GrantTypeParameters> additionalGrantTypeRequestParameters() const;
  void setAdditionalGrantTypeRequestParameters(std::optional<GrantTypeParameters> value);
  std::shared_ptr<Fetcher> refreshFetcher() const;
  std::any userData() const;
  void setUserData(std::any value);
  // A copy of every token-response value.
  Value::Dictionary parameters() const;
  // An empty value removes the key.
  void setProperty(std::any value, const std::string& key);
  std::any propertyForKey(const std::string& key) const;

  // Values kept in `parameters`; storing nothing removes the key.
  std::optional<std::string> accessToken() const;
  void setAccessToken(std::optional<std::string> value);
  std::optional<std::string> refreshToken() const;
  void setRefreshToken(std::optional<std::string> value);
  std::optional<std::string> code() const;
  void setCode(std::optional<std::string> value);
  std::optional<std::string> assertion() const;
  void setAssertion(std::optional<std::string> value);
  std::optional<std::string> refreshScope() const;
  void setRefreshScope(std::optional<std::string> value);
  std::optional<std::string> errorString() const;
  void setErrorString(std::optional<std::string> value);
  std::optional<std::string> tokenType() const;
  void setTokenType(std::optional<std::string> value);
  std::optional<std::string> scope() const;
  void setScope(std::optional<std::string> value);
  // A textual value reads as its leading integer. Setting it recomputes `expirationDate`.
  std::optional<std::int64_t> expiresIn() const;
  void setExpiresIn(std::optional<std::int64_t> value);
  std::optional<std::string> serviceProvider() const;
  void setServiceProvider(std::optional<std::string> value);
  std::optional<std::string> userID() const;
  void setUserID(std::optional<std::string> value);
  std::optional<std::string> userEmail() override;
  void setUserEmail(std::optional<std::string> value);
  std::optional<std::string> userEmailIsVerified() const;
  void setUserEmailIsVerified(std::optional<std::string> value);

  // Signing.
  void authorizeRequest(std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
                        DidFinishSelector didFinishSelector) override;
  void authorizeRequest(std::shared_ptr<URLRequest> request, CompletionHandler handler) override;
  // Signs with the token in hand, never refreshes, calls nothing back; true when signed.
  bool authorizeRequest(const std::shared_ptr<URLRequest>& request);
  void stopAuthorization() override;
  void stopAuthorizationForRequest(const std::shared_ptr<URLRequest>& request) override;
  bool isAuthorizingRequest(const std::shared_ptr<URLRequest>& request) override;
  bool isAuthorizedRequest(const std::shared_ptr<URLRequest>& request) override;
  bool canAuthorize() override;
  std::optional<std::string> authorizationToken() const;
  bool shouldRefreshAccessToken() const;
  bool primeForRefresh() override;
  bool shouldAuthorizeAllRequests() override;
  void setShouldAuthorizeAllRequests(bool flag) override;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> fetcherService() override;
  // Not retained: the service keeps its authorizer.
  void setFetcherService(std::shared_ptr<ZTKSessionFetcherServiceProtocol> service) override;
  // Waits for the refresh in flight (true when there is none).
  bool waitForCompletionWithTimeout(TimeInterval seconds);

  // Token requests. Nothing when there is neither refresh token, nor code, nor assertion. The
  // selector runs once the answer has been merged.
  std::shared_ptr<Fetcher> beginTokenFetchWithDelegate(std::shared_ptr<void> delegate, TokenFetchSelector selector);
  std::string userAgent() const;

  // Response values.
  void setKeysForResponseDictionary(const std::optional<Value::Dictionary>& dict);
  void setKeysForResponseString(const std::optional<std::string>& responseString);
  void setKeysForResponseJSONData(const std::optional<Data>& data);
  void setKeysForPersistenceResponseString(const std::optional<std::string>& responseString) {
    setKeysForResponseString(responseString);
  }
  std::string persistenceResponseString() const;
  void reset();

  // "<class> <address>: {accessToken="...", ...}".
  std::string description() const;

  // Encodings.
  static std::optional<std::string> encodedOAuthValueForString(std::optional<std::string_view> text);
  // Nothing for a malformed escape or bytes that are not UTF-8; "+" stays "+".
  static std::optional<std::string> unencodedOAuthParameterForString(std::string_view text);
  static std::string encodedQueryParametersForDictionary(const Form& dict);
  // A pair whose key or value does not decode is skipped.
  static std::optional<Form> dictionaryWithResponseString(std::optional<std::string_view> responseString);
  static std::optional<Form> dictionaryWithResponseData(const std::optional<Data>& data);
  static std::optional<Value> dictionaryWithJSONData(const std::optional<Data>& data);
  static std::string scopeWithStrings(const std::vector<std::string>& strings);
  static void invokeDelegate(const std::shared_ptr<void>& delegate, const TokenFetchSelector& selector,
                             const std::shared_ptr<ZSDK_ZTKOAuth2Authentication>& auth,
                             const std::shared_ptr<Fetcher>& fetcher, const std::optional<NSError>& error);

 private:
  using QueueLock = std::lock_guard<std::mutex>;
  using FieldLock = std::lock_guard<std::mutex>;

  struct TokenRequestForm {
    Form form;
    const char* fetchType;
  };

  bool authorizeRequestArgs(const std::shared_ptr<Args>& args);
  bool authorizeRequestImmediateArgs(const std::shared_ptr<Args>& args);
  void invokeCallbackArgs(const std::shared_ptr<Args>& args);
  void startQueuedRefresh(std::uint64_t attempt);
  void finishedRefreshWithFetcher(std::uint64_t attempt, const std::optional<NSError>& error);
  void postRefreshOutcome(bool succeeded, const std::optional<NSError>& error);

  std::optional<TokenRequestForm> tokenRequestForm() const;
  void tokenFetcherFinished(const std::shared_ptr<Fetcher>& fetcher, const std::optional<Data>& data,
                            std::optional<NSError> error);
  void postNotification(const char* name, Value::Dictionary userInfo = {});

  std::optional<std::string> stringParameter(const char* key) const;
  void setParameter(const char* key, std::optional<Value> value);
  void recomputeExpirationDateLocked();

  mutable std::mutex fieldMutex_;
  std::optional<std::string> clientID_;
  std::optional<std::string> clientSecret_;
  std::optional<std::string> redirectURI_;
  Value::Dictionary parameters_;
  std::optional<URL> tokenURL_;
  std::optional<Date> expirationDate_;
  std::optional<std::string> authorizationTokenKey_;
  std::optional<Form> additionalTokenRequestParameters_;
  std::optional<GrantTypeParameters> additionalGrantTypeRequestParameters_;
  std::weak_ptr<ZTKSessionFetcherServiceProtocol> fetcherService_;
  bool shouldAuthorizeAllRequests_ = false;
  std::any userData_;
  std::optional<Properties> properties_;

  mutable std::mutex queueMutex_;
  std::deque<std::shared_ptr<Args>> authorizationQueue_;
  std::shared_ptr<Fetcher> refreshFetcher_;
  // A refresh for the queue is being started or is in flight.
  bool refreshPending_ = false;
  // Counts refresh starts and stops, so a late answer of an abandoned refresh is ignored.
  std::uint64_t refreshAttempt_ = 0;
};
