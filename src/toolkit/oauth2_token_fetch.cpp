// Token requests (refresh, code exchange, assertion) and the merging of their answers.
#include <fmt/format.h>

#include <cstdint>

#include "platform/foundation/ascii.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/oauth2_internal.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_service_protocol.h"

namespace {

using ztk_fetcher_detail::nonEmpty;

constexpr const char* kDelegateProperty = "delegate";
constexpr const char* kSelectorProperty = "sel";
// Token, revocation and user-info answers are small.
constexpr std::int64_t kMaximumAnswerSize = 1 << 20;

bool isJSONResponse(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) {
  const auto headers = fetcher->responseHeaders();
  const auto type = headers ? headers->valueForHTTPHeaderField("Content-Type") : std::nullopt;
  return type && asciiLowercase(*type).starts_with("application/json");
}

}  // namespace

std::string ztk_fetcher_detail::forEmail(const std::optional<std::string>& email) {
  return email ? fmt::format("for \"{}\"", *email) : std::string();
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ztk_fetcher_detail::fetcherForAuthorization(ZSDK_ZTKOAuth2Authentication& auth,
                                                                                    const URLRequest& request) {
  auto service = auth.fetcherService();
  auto fetcher = service ? service->fetcherWithRequest(request) : ZSDK_ZTKSessionFetcher::fetcherWithRequest(request);
  // The answer is held whole in memory: a small compressed one must not grow without bound.
  fetcher->setMaximumResponseBodySize(kMaximumAnswerSize);
  return fetcher;
}

std::optional<ZSDK_ZTKOAuth2Authentication::TokenRequestForm> ZSDK_ZTKOAuth2Authentication::tokenRequestForm() const {
  TokenRequestForm request{{}, nullptr};
  Form& form = request.form;
  std::string grantType;
  const auto refresh = refreshToken();
  const auto authCode = code();
  const auto jwt = assertion();
  if (refresh) {
    form["refresh_token"] = *refresh;
    if (auto value = refreshScope(); nonEmpty(value)) form["scope"] = *value;
    grantType = "refresh_token";
    request.fetchType = kZTKOAuth2FetchTypeRefresh;
  } else if (authCode) {
    form["code"] = *authCode;
    // Sent exactly as it was in the authorization request: the endpoint compares the two.
    if (auto value = redirectURI(); nonEmpty(value)) form["redirect_uri"] = *value;
    if (auto value = scope(); nonEmpty(value)) form["scope"] = *value;
    grantType = "authorization_code";
    request.fetchType = kZTKOAuth2FetchTypeToken;
  } else if (jwt) {
    form["assertion"] = *jwt;
    grantType = kZTKOAuth2JWTBearerGrantType;
    request.fetchType = kZTKOAuth2FetchTypeAssertion;
  } else {
    return std::nullopt;
  }
  form["grant_type"] = grantType;
  if (auto value = clientID(); nonEmpty(value)) form["client_id"] = *value;
  // A public client has no secret, and an empty one is refused by standard endpoints.
  if (auto value = clientSecret(); nonEmpty(value)) form["client_secret"] = *value;
  if (auto extra = additionalTokenRequestParameters()) {
    for (const auto& [key, value] : *extra) form[key] = value;
  }
  if (auto perGrant = additionalGrantTypeRequestParameters()) {
    if (auto it = perGrant->find(grantType); it != perGrant->end()) {
      for (const auto& [key, value] : it->second) form[key] = value;
    }
  }
  return request;
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKOAuth2Authentication::beginTokenFetchWithDelegate(
    std::shared_ptr<void> delegate, TokenFetchSelector selector) {
  const auto tokenForm = tokenRequestForm();
  if (!tokenForm) return nullptr;
  URLRequest request;
  request.url = tokenURL();
  request.setValue("application/x-www-form-urlencoded", "Content-Type");
  request.setValue(userAgent(), "User-Agent");

  auto fetcher = ztk_fetcher_detail::fetcherForAuthorization(*this, request);
  // A token request is never itself signed.
  fetcher->setAuthorizer(nullptr);
  const auto host = request.url ? request.url->host() : std::nullopt;
  fetcher->setComment(fmt::format("ZTKOAuth2 {} fetch to {} {}", tokenForm->fetchType, host.value_or(""),
                                  ztk_fetcher_detail::forEmail(userEmail())));
  fetcher->setRetryEnabled(true);
  fetcher->setMaxRetryInterval(15.0);
  if (delegate) fetcher->setProperty(delegate, kDelegateProperty);
  if (selector) fetcher->setProperty(selector, kSelectorProperty);
  fetcher->setBodyData(Data::fromString(encodedQueryParametersForDictionary(tokenForm->form)));

  auto self = shared_from_this();
  fetcher->beginFetchWithDelegate(
      self, [self](const std::shared_ptr<Fetcher>& finished, std::optional<Data> data, std::optional<NSError> error) {
        self->tokenFetcherFinished(finished, data, std::move(error));
      });
  postNotification(kZTKOAuth2FetchStarted,
                   {{kZTKOAuth2FetcherKey, fetcher->description()}, {kZTKOAuth2FetchTypeKey, tokenForm->fetchType}});
  return fetcher;
}

void ZSDK_ZTKOAuth2Authentication::tokenFetcherFinished(const std::shared_ptr<Fetcher>& fetcher,
                                                        const std::optional<Data>& data, std::optional<NSError> error) {
  postNotification(kZTKOAuth2FetchStopped, {{kZTKOAuth2FetcherKey, fetcher->description()}});
  const bool isJSON = isJSONResponse(fetcher);
  if (!error) {
    if (data && !data->empty()) {
      if (isJSON) {
        setKeysForResponseJSONData(data);
      } else {
        setKeysForResponseString(data->toString());
      }
    }
  } else if (isJSON) {
    // The fetcher hands an error's body over in the error itself.
    std::optional<Data> body = data;
    if (!body || body->empty()) {
      const auto it = error->userInfo.find("data");
      if (it != error->userInfo.end() && it->second.asData()) body = *it->second.asData();
    }
    const auto parsed = dictionaryWithJSONData(body);
    if (parsed && parsed->asDictionary() && !parsed->asDictionary()->empty()) {
      Value::Dictionary userInfo{{kZTKOAuth2ErrorJSONKey, *parsed}};
      for (const auto& [key, value] : error->userInfo) userInfo[key] = value;
      error = NSError(error->domain, error->code, std::move(userInfo));
    }
  }
  std::shared_ptr<void> delegate;
  TokenFetchSelector selector;
  if (auto value = fetcher->propertyForKey(kDelegateProperty); value.has_value()) {
    if (auto* held = std::any_cast<std::shared_ptr<void>>(&value)) delegate = *held;
  }
  if (auto value = fetcher->propertyForKey(kSelectorProperty); value.has_value()) {
    if (auto* held = std::any_cast<TokenFetchSelector>(&value)) selector = *held;
  }
  invokeDelegate(delegate, selector, shared_from_this(), fetcher, error);
  fetcher->setProperty({}, kDelegateProperty);
}

void ZSDK_ZTKOAuth2Authentication::invokeDelegate(const std::shared_ptr<void>& delegate,
                                                  const TokenFetchSelector& selector,
                                                  const std::shared_ptr<ZSDK_ZTKOAuth2Authentication>& auth,
                                                  const std::shared_ptr<Fetcher>& fetcher,
                                                  const std::optional<NSError>& error) {
  if (delegate && selector) selector(auth, fetcher, error);
}
