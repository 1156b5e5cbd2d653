#include "toolkit/oauth2_authentication.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "toolkit/oauth2_internal.h"

namespace {

constexpr const char* kAccessTokenKey = "access_token";
constexpr const char* kRefreshTokenKey = "refresh_token";
constexpr const char* kCodeKey = "code";
constexpr const char* kAssertionKey = "assertion";
constexpr const char* kRefreshScopeKey = "refreshScope";
constexpr const char* kErrorKey = "error";
constexpr const char* kTokenTypeKey = "token_type";
constexpr const char* kScopeKey = "scope";
constexpr const char* kExpiresInKey = "expires_in";
constexpr const char* kServiceProviderKey = "serviceProvider";
constexpr const char* kUserIDKey = "userID";
constexpr const char* kEmailKey = "email";
constexpr const char* kIsVerifiedKey = "isVerified";

std::optional<std::string> stringIn(const Value::Dictionary& dict, const char* key) {
  const auto it = dict.find(key);
  if (it == dict.end() || !it->second.asString()) return std::nullopt;
  return *it->second.asString();
}

}  // namespace

using ztk_fetcher_detail::nonEmpty;

bool ztk_fetcher_detail::accessTokenNeedsRefresh(bool refreshable, bool hasAccessToken,
                                                 std::optional<Date> expirationDate, Date now, TimeInterval threshold) {
  if (!refreshable) return false;
  if (!hasAccessToken || !expirationDate) return true;
  return expirationDate->timeIntervalSinceDate(now) < threshold;
}

std::shared_ptr<ZSDK_ZTKOAuth2Authentication> ZSDK_ZTKOAuth2Authentication::create() {
  return std::make_shared<ZSDK_ZTKOAuth2Authentication>();
}

std::shared_ptr<ZSDK_ZTKOAuth2Authentication> ZSDK_ZTKOAuth2Authentication::authenticationWithServiceProvider(
    std::optional<std::string> serviceProvider, std::optional<URL> tokenURL, std::optional<std::string> redirectURI,
    std::optional<std::string> clientID, std::optional<std::string> clientSecret) {
  auto auth = create();
  auth->setServiceProvider(std::move(serviceProvider));
  auth->setTokenURL(std::move(tokenURL));
  auth->setRedirectURI(std::move(redirectURI));
  auth->setClientID(std::move(clientID));
  auth->setClientSecret(std::move(clientSecret));
  return auth;
}

// Stored fields, each read and written whole under the field lock.
#define ZTK_OAUTH2_FIELD(Type, getter, setter, member)    \
  Type ZSDK_ZTKOAuth2Authentication::getter() const {     \
    FieldLock lock(fieldMutex_);                          \
    return member;                                        \
  }                                                       \
  void ZSDK_ZTKOAuth2Authentication::setter(Type value) { \
    FieldLock lock(fieldMutex_);                          \
    member = std::move(value);                            \
  }

ZTK_OAUTH2_FIELD(std::optional<std::string>, clientID, setClientID, clientID_)
ZTK_OAUTH2_FIELD(std::optional<std::string>, clientSecret, setClientSecret, clientSecret_)
ZTK_OAUTH2_FIELD(std::optional<std::string>, redirectURI, setRedirectURI, redirectURI_)
ZTK_OAUTH2_FIELD(std::optional<URL>, tokenURL, setTokenURL, tokenURL_)
ZTK_OAUTH2_FIELD(std::optional<Date>, expirationDate, setExpirationDate, expirationDate_)
ZTK_OAUTH2_FIELD(std::optional<std::string>, authorizationTokenKey, setAuthorizationTokenKey, authorizationTokenKey_)
ZTK_OAUTH2_FIELD(std::optional<ZSDK_ZTKOAuth2Authentication::Form>, additionalTokenRequestParameters,
                 setAdditionalTokenRequestParameters, additionalTokenRequestParameters_)
ZTK_OAUTH2_FIELD(std::optional<ZSDK_ZTKOAuth2Authentication::GrantTypeParameters>, additionalGrantTypeRequestParameters,
                 setAdditionalGrantTypeRequestParameters, additionalGrantTypeRequestParameters_)
ZTK_OAUTH2_FIELD(std::any, userData, setUserData, userData_)
#undef ZTK_OAUTH2_FIELD

Value::Dictionary ZSDK_ZTKOAuth2Authentication::parameters() const {
  FieldLock lock(fieldMutex_);
  return parameters_;
}

void ZSDK_ZTKOAuth2Authentication::setProperty(std::any value, const std::string& key) {
  FieldLock lock(fieldMutex_);
  if (!value.has_value()) {
    if (properties_) properties_->erase(key);
    return;
  }
  if (!properties_) properties_.emplace();
  (*properties_)[key] = std::move(value);
}

std::any ZSDK_ZTKOAuth2Authentication::propertyForKey(const std::string& key) const {
  FieldLock lock(fieldMutex_);
  if (!properties_) return {};
  const auto it = properties_->find(key);
  return it == properties_->end() ? std::any{} : it->second;
}

std::optional<std::string> ZSDK_ZTKOAuth2Authentication::stringParameter(const char* key) const {
  FieldLock lock(fieldMutex_);
  return stringIn(parameters_, key);
}

void ZSDK_ZTKOAuth2Authentication::setParameter(const char* key, std::optional<Value> value) {
  FieldLock lock(fieldMutex_);
  if (value) {
    parameters_[key] = std::move(*value);
  } else {
    parameters_.erase(key);
  }
}

#define ZTK_OAUTH2_PARAMETER(getter, setter, key)                                                          \
  std::optional<std::string> ZSDK_ZTKOAuth2Authentication::getter() const { return stringParameter(key); } \
  void ZSDK_ZTKOAuth2Authentication::setter(std::optional<std::string> value) {                            \
    setParameter(key, value ? std::optional<Value>(std::move(*value)) : std::nullopt);                     \
  }

ZTK_OAUTH2_PARAMETER(accessToken, setAccessToken, kAccessTokenKey)
ZTK_OAUTH2_PARAMETER(refreshToken, setRefreshToken, kRefreshTokenKey)
ZTK_OAUTH2_PARAMETER(code, setCode, kCodeKey)
ZTK_OAUTH2_PARAMETER(assertion, setAssertion, kAssertionKey)
ZTK_OAUTH2_PARAMETER(refreshScope, setRefreshScope, kRefreshScopeKey)
ZTK_OAUTH2_PARAMETER(errorString, setErrorString, kErrorKey)
ZTK_OAUTH2_PARAMETER(tokenType, setTokenType, kTokenTypeKey)
ZTK_OAUTH2_PARAMETER(scope, setScope, kScopeKey)
ZTK_OAUTH2_PARAMETER(serviceProvider, setServiceProvider, kServiceProviderKey)
ZTK_OAUTH2_PARAMETER(userID, setUserID, kUserIDKey)
ZTK_OAUTH2_PARAMETER(userEmailIsVerified, setUserEmailIsVerified, kIsVerifiedKey)
#undef ZTK_OAUTH2_PARAMETER

std::optional<std::string> ZSDK_ZTKOAuth2Authentication::userEmail() { return stringParameter(kEmailKey); }
void ZSDK_ZTKOAuth2Authentication::setUserEmail(std::optional<std::string> value) {
  setParameter(kEmailKey, value ? std::optional<Value>(std::move(*value)) : std::nullopt);
}

namespace {

// Longer lifetimes are read as this one (about 68 years): the expiry stays far off and in range.
constexpr std::int64_t kLongestLifetime = std::numeric_limits<std::int32_t>::max();

// A lifetime that is not a positive number counts as none.
std::optional<std::int64_t> expiresInOf(const Value::Dictionary& parameters) {
  const auto it = parameters.find(kExpiresInKey);
  if (it == parameters.end()) return std::nullopt;
  double seconds = 0;
  if (auto integer = it->second.asInteger()) {
    seconds = static_cast<double>(*integer);
  } else if (auto real = it->second.asReal()) {
    seconds = *real;
  } else if (auto text = it->second.asString()) {
    seconds = static_cast<double>(std::strtoll(text->c_str(), nullptr, 10));
  }
  if (!std::isfinite(seconds) || seconds < 1) return std::nullopt;
  return seconds >= static_cast<double>(kLongestLifetime) ? kLongestLifetime : static_cast<std::int64_t>(seconds);
}

}  // namespace

std::optional<std::int64_t> ZSDK_ZTKOAuth2Authentication::expiresIn() const {
  FieldLock lock(fieldMutex_);
  return expiresInOf(parameters_);
}

void ZSDK_ZTKOAuth2Authentication::setExpiresIn(std::optional<std::int64_t> value) {
  FieldLock lock(fieldMutex_);
  if (value) {
    parameters_[kExpiresInKey] = Value(static_cast<long long>(*value));
  } else {
    parameters_.erase(kExpiresInKey);
  }
  recomputeExpirationDateLocked();
}

void ZSDK_ZTKOAuth2Authentication::recomputeExpirationDateLocked() {
  const auto seconds = expiresInOf(parameters_);
  // A negative lifetime read as unsigned would put the expiry ages away and the token would never
  // be refreshed; no expiry makes a refreshable authorization refresh first instead.
  if (seconds) {
    expirationDate_ = Date::now().dateByAddingTimeInterval(static_cast<TimeInterval>(*seconds));
  } else {
    expirationDate_.reset();
  }
}

void ZSDK_ZTKOAuth2Authentication::setKeysForResponseDictionary(const std::optional<Value::Dictionary>& dict) {
  if (!dict) return;
  bool refreshTokenChanged = false;
  {
    FieldLock lock(fieldMutex_);
    if (dict->count(kCodeKey) || dict->count(kAccessTokenKey)) {
      parameters_.erase(kExpiresInKey);
      expirationDate_.reset();
    }
    if (const auto incoming = dict->find(kRefreshTokenKey); incoming != dict->end()) {
      const auto current = parameters_.find(kRefreshTokenKey);
      refreshTokenChanged = current == parameters_.end() || !(current->second == incoming->second);
    }
    for (const auto& [key, value] : *dict) parameters_[key] = value;
    recomputeExpirationDateLocked();
  }
  if (refreshTokenChanged) postNotification(kZTKOAuth2RefreshTokenChanged);
}

void ZSDK_ZTKOAuth2Authentication::setKeysForResponseString(const std::optional<std::string>& responseString) {
  const auto form = dictionaryWithResponseString(responseString);
  if (!form) return;
  Value::Dictionary dict;
  for (const auto& [key, value] : *form) dict.emplace(key, value);
  setKeysForResponseDictionary(dict);
}

void ZSDK_ZTKOAuth2Authentication::setKeysForResponseJSONData(const std::optional<Data>& data) {
  const auto parsed = dictionaryWithJSONData(data);
  // Only an object can be merged; any other JSON answer carries no values.
  if (parsed && parsed->asDictionary()) setKeysForResponseDictionary(*parsed->asDictionary());
}

std::string ZSDK_ZTKOAuth2Authentication::persistenceResponseString() const {
  Form form;
  {
    FieldLock lock(fieldMutex_);
    const auto refresh = stringIn(parameters_, kRefreshTokenKey);
    if (refresh) {
      form[kRefreshTokenKey] = *refresh;
    } else if (auto access = stringIn(parameters_, kAccessTokenKey)) {
      form[kAccessTokenKey] = *access;
    }
    for (const char* key : {kServiceProviderKey, kUserIDKey, kEmailKey, kIsVerifiedKey, kScopeKey}) {
      if (auto value = stringIn(parameters_, key)) form[key] = *value;
    }
  }
  return encodedQueryParametersForDictionary(form);
}

void ZSDK_ZTKOAuth2Authentication::reset() {
  FieldLock lock(fieldMutex_);
  for (const char* key : {kCodeKey, kAccessTokenKey, kRefreshTokenKey, kAssertionKey, kExpiresInKey, kErrorKey}) {
    parameters_.erase(key);
  }
  expirationDate_.reset();
  parameters_.erase(kEmailKey);
  parameters_.erase(kIsVerifiedKey);
  authorizationTokenKey_.reset();
}

std::optional<std::string> ZSDK_ZTKOAuth2Authentication::authorizationToken() const {
  FieldLock lock(fieldMutex_);
  if (authorizationTokenKey_) return stringIn(parameters_, authorizationTokenKey_->c_str());
  return stringIn(parameters_, kAccessTokenKey);
}

bool ZSDK_ZTKOAuth2Authentication::canAuthorize() {
  auto token = refreshToken();
  if (!token) token = authorizationToken();
  return nonEmpty(token);
}

bool ZSDK_ZTKOAuth2Authentication::shouldRefreshAccessToken() const {
  FieldLock lock(fieldMutex_);
  const bool refreshable = nonEmpty(stringIn(parameters_, kRefreshTokenKey)) ||
                           nonEmpty(stringIn(parameters_, kAssertionKey)) || nonEmpty(stringIn(parameters_, kCodeKey));
  return ztk_fetcher_detail::accessTokenNeedsRefresh(refreshable, nonEmpty(stringIn(parameters_, kAccessTokenKey)),
                                                     expirationDate_, Date::now());
}

bool ZSDK_ZTKOAuth2Authentication::primeForRefresh() {
  FieldLock lock(fieldMutex_);
  if (!stringIn(parameters_, kRefreshTokenKey)) return false;
  for (const char* key : {kAccessTokenKey, kExpiresInKey, kErrorKey}) parameters_.erase(key);
  expirationDate_.reset();
  return true;
}

std::string ZSDK_ZTKOAuth2Authentication::userAgent() const {
  const auto bundle = Bundle::main();
  const auto text = [&](const char* key) -> std::optional<std::string> {
    const auto value = bundle->objectForInfoDictionaryKey(key);
    if (!value || !value->asString() || value->asString()->empty()) return std::nullopt;
    return *value->asString();
  };
  const auto identifier = text("CFBundleIdentifier");
  if (!identifier) return "ztk-oauth2";
  auto version = text("CFBundleShortVersionString");
  if (!version) version = text("CFBundleVersion");
  return version ? fmt::format("ztk-oauth2 {}/{}", *identifier, *version) : fmt::format("ztk-oauth2 {}", *identifier);
}

std::string ZSDK_ZTKOAuth2Authentication::description() const {
  std::string list;
  const auto add = [&](const char* name, const std::optional<std::string>& value) {
    if (!value) return;
    list += fmt::format("{}{}=\"{}\"", list.empty() ? "" : ", ", name, *value);
  };
  std::optional<std::string> expiry;
  if (auto date = expirationDate()) expiry = Value(*date).description();
  add("accessToken", accessToken());
  add("refreshToken", refreshToken());
  add("code", code());
  add("assertion", assertion());
  add("expirationDate", expiry);
  add("errorString", errorString());
  return fmt::format("ZSDK_ZTKOAuth2Authentication {}: {{{}}}", static_cast<const void*>(this), list);
}

void ZSDK_ZTKOAuth2Authentication::postNotification(const char* name, Value::Dictionary userInfo) {
  NotificationCenter::defaultCenter()->postNotificationName(name, weak_from_this().lock(), std::move(userInfo));
}
