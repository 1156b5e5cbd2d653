// The provider's fixed endpoints and what is done with them outside a running flow: the user's
// identity, revocation and the web-safe Base64 of ID tokens.
#include <fmt/format.h>

#include <array>
#include <cctype>
#include <cstdlib>

#include "platform/foundation/notification_center.h"
#include "toolkit/oauth2_internal.h"
#include "toolkit/oauth2_sign_in.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_service_protocol.h"

namespace {

using ztk_fetcher_detail::fetcherForAuthorization;
using ztk_fetcher_detail::forEmail;
using ztk_fetcher_detail::nonEmpty;

std::mutex hostsMutex;
ZSDK_ZTKOAuth2SignIn::ProviderHosts hosts;

URL endpoint(const std::string& origin, const char* path) {
  const auto url = URL::URLWithString(origin + path);
  return url ? *url : URL::fileURLWithPath("/");
}

// A textual truth value: leading blanks, then "Y", "y", "T", "t", or a number other than zero.
bool textIsTrue(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i == text.size()) return false;
  const char c = text[i];
  if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
  return std::strtoll(text.c_str() + i, nullptr, 10) != 0;
}

std::optional<std::string> textOf(const Value* value) {
  if (!value) return std::nullopt;
  if (value->asString()) return *value->asString();
  if (auto integer = value->asInteger()) return std::to_string(*integer);
  return std::nullopt;
}

std::optional<std::string> verifiedFlag(const Value* value) {
  if (!value) return std::nullopt;
  bool verified = false;
  if (auto flag = value->asBool()) {
    verified = *flag;
  } else if (auto number = value->asReal()) {
    verified = *number != 0;
  } else if (value->asString()) {
    verified = textIsTrue(*value->asString());
  } else {
    return std::nullopt;
  }
  return verified ? "1" : "0";
}

}  // namespace

ZSDK_ZTKOAuth2SignIn::ProviderHosts ZSDK_ZTKOAuth2SignIn::providerHosts() {
  std::lock_guard lock(hostsMutex);
  return hosts;
}

void ZSDK_ZTKOAuth2SignIn::setProviderHosts(ProviderHosts newHosts) {
  std::lock_guard lock(hostsMutex);
  hosts = std::move(newHosts);
}

URL ZSDK_ZTKOAuth2SignIn::zedodoAuthorizationURL() {
  return endpoint(providerHosts().accountsOrigin, "/o/oauth2/auth");
}
URL ZSDK_ZTKOAuth2SignIn::zedodoTokenURL() { return endpoint(providerHosts().accountsOrigin, "/o/oauth2/token"); }
URL ZSDK_ZTKOAuth2SignIn::zedodoRevocationURL() { return endpoint(providerHosts().accountsOrigin, "/o/oauth2/revoke"); }
URL ZSDK_ZTKOAuth2SignIn::zedodoUserInfoURL() { return endpoint(providerHosts().apiOrigin, "/oauth2/v3/userinfo"); }
std::optional<std::string> ZSDK_ZTKOAuth2SignIn::nativeClientRedirectURI() { return "urn:ietf:wg:oauth:2.0:oob"; }
std::string ZSDK_ZTKOAuth2SignIn::userInfoEmailScope() { return providerHosts().apiOrigin + "/auth/userinfo.email"; }
std::string ZSDK_ZTKOAuth2SignIn::userInfoProfileScope() {
  return providerHosts().apiOrigin + "/auth/userinfo.profile";
}

std::shared_ptr<ZSDK_ZTKOAuth2Authentication> ZSDK_ZTKOAuth2SignIn::standardZedodoAuthenticationForScope(
    std::optional<std::string> scope, std::optional<std::string> clientID, std::optional<std::string> clientSecret) {
  return standardAuthenticationOf<ZSDK_ZTKOAuth2SignIn>(std::move(scope), std::move(clientID), std::move(clientSecret));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKOAuth2SignIn::userInfoFetcherWithAuth(
    const std::shared_ptr<Auth>& auth) {
  return userInfoFetcherForURL(auth, zedodoUserInfoURL());
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKOAuth2SignIn::userInfoFetcherForURL(const std::shared_ptr<Auth>& auth,
                                                                                    const URL& userInfoURL) {
  URLRequest request(userInfoURL);
  if (const auto userAgent = auth->userAgent(); !userAgent.empty()) request.setValue(userAgent, "User-Agent");
  request.setValue("no-cache", "Cache-Control");
  auto fetcher = fetcherForAuthorization(*auth, request);
  fetcher->setAuthorizer(auth);
  fetcher->setRetryEnabled(true);
  fetcher->setMaxRetryInterval(15.0);
  fetcher->setComment(fmt::format("ZTKOAuth2 user info {}", forEmail(auth->userEmail())));
  return fetcher;
}

void ZSDK_ZTKOAuth2SignIn::fetchZedodoUserInfo() {
  if (!shouldFetchZedodoUserProfile_ && signInWithIDToken()) {
    finishSignInWithError(std::nullopt);
    return;
  }
  auto fetcher = userInfoFetcherForURL(authentication_, classUserInfoURL());
  setPendingFetcher(fetcher);
  auto self = shared_from_this();
  std::weak_ptr<ZSDK_ZTKOAuth2SignIn> weak = self;
  fetcher->beginFetchWithDelegate(
      self, [weak](const std::shared_ptr<Fetcher>& finished, std::optional<Data> data, std::optional<NSError> error) {
        if (auto signIn = weak.lock()) signIn->userInfoFetchFinished(finished, data, error);
      });
  NotificationCenter::defaultCenter()->postNotificationName(
      kZTKOAuth2FetchStarted, authentication_,
      {{kZTKOAuth2FetcherKey, fetcher->description()}, {kZTKOAuth2FetchTypeKey, kZTKOAuth2FetchTypeUserInfo}});
}

bool ZSDK_ZTKOAuth2SignIn::signInWithIDToken() {
  const auto parameters = authentication_->parameters();
  const auto it = parameters.find("id_token");
  if (it == parameters.end() || !it->second.asString()) return false;
  const std::string& idToken = *it->second.asString();
  const auto first = idToken.find('.');
  const auto last = idToken.rfind('.');
  if (first == std::string::npos || first == last || idToken.find('.', first + 1) != last) return false;
  const auto payload = idToken.substr(first + 1, last - first - 1);
  if (payload.empty()) return false;
  const auto bytes = decodeWebSafeBase64(payload);
  if (!bytes || bytes->empty()) return false;
  updateZedodoUserInfoWithData(bytes);
  return nonEmpty(authentication_->userID()) && nonEmpty(authentication_->userEmail());
}

void ZSDK_ZTKOAuth2SignIn::userInfoFetchFinished(const std::shared_ptr<Fetcher>& fetcher,
                                                 const std::optional<Data>& data, const std::optional<NSError>& error) {
  NotificationCenter::defaultCenter()->postNotificationName(kZTKOAuth2FetchStopped, authentication_,
                                                            {{kZTKOAuth2FetcherKey, fetcher->description()}});
  setPendingFetcher(nullptr);
  if (!error) updateZedodoUserInfoWithData(data);
  finishSignInWithError(error);
}

void ZSDK_ZTKOAuth2SignIn::updateZedodoUserInfoWithData(const std::optional<Data>& data) {
  const auto parsed = Auth::dictionaryWithJSONData(data);
  if (!parsed || !parsed->asDictionary()) return;
  const auto& profile = *parsed->asDictionary();
  userProfile_ = profile;
  authentication_->setUserID(textOf(parsed->find("sub")));
  authentication_->setUserEmail(textOf(parsed->find("email")));
  authentication_->setUserEmailIsVerified(verifiedFlag(parsed->find("email_verified")));
}

void ZSDK_ZTKOAuth2SignIn::revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth) {
  revokeTokenAtURL(auth, zedodoRevocationURL());
}

void ZSDK_ZTKOAuth2SignIn::revokeTokenAtURL(const std::shared_ptr<Auth>& auth, const URL& revocationURL) {
  const auto refreshToken = auth->refreshToken();
  if (nonEmpty(refreshToken) && auth->canAuthorize() && auth->serviceProvider() == kServiceProvider) {
    URLRequest request(revocationURL);
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    request.setValue(auth->userAgent(), "User-Agent");
    // A public client names itself, or the endpoint refuses the revocation and the token lives on.
    auto body = "token=" + *Auth::encodedOAuthValueForString(*refreshToken);
    if (const auto clientID = auth->clientID(); nonEmpty(clientID)) {
      body += "&client_id=" + *Auth::encodedOAuthValueForString(*clientID);
    }
    auto fetcher = fetcherForAuthorization(*auth, request);
    // Signing it could start a refresh whose answer would bring the tokens back after the reset.
    fetcher->setAuthorizer(nullptr);
    fetcher->setComment(fmt::format("ZTKOAuth2 revoke token for {}", auth->userEmail().value_or("")));
    fetcher->setBodyData(Data::fromString(body));
    fetcher->beginFetchWithCompletionHandler([](std::optional<Data>, std::optional<NSError>) {});
  }
  auth->reset();
}

std::optional<Data> ZSDK_ZTKOAuth2SignIn::decodeWebSafeBase64(std::string_view base64) {
  static const std::array<std::uint8_t, 256> table = [] {
    std::array<std::uint8_t, 256> t{};
    const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    for (std::size_t i = 0; i < alphabet.size(); ++i) t[static_cast<unsigned char>(alphabet[i])] = std::uint8_t(i);
    return t;
  }();
  for (const unsigned char c : base64) {
    if (c > 0x7F) return std::nullopt;
  }
  while (!base64.empty() && base64.back() == '=') base64.remove_suffix(1);
  const std::size_t outLength = base64.size() * 3 / 4;
  std::vector<std::uint8_t> out;
  out.reserve(outLength);
  for (std::size_t i = 0; i + 1 < base64.size() && out.size() < outLength; i += 4) {
    const auto at = [&](std::size_t k) -> std::uint32_t {
      return k < base64.size() ? table[static_cast<unsigned char>(base64[k])] : 0;
    };
    const std::uint32_t group = (at(i) << 18) | (at(i + 1) << 12) | (at(i + 2) << 6) | at(i + 3);
    for (int shift : {16, 8, 0}) {
      if (out.size() < outLength) out.push_back(static_cast<std::uint8_t>((group >> shift) & 0xFF));
    }
  }
  return Data(std::move(out));
}
