#include "toolkit/oauth2_sign_in_internal.h"

#include <fmt/format.h>

#include <mutex>

#include "platform/foundation/ascii.h"
#include "platform/foundation/bundle.h"
#include "platform/net/http_cookie_storage.h"
#include "toolkit/oauth2_constants.h"
#include "toolkit/oauth2_internal.h"
#include "toolkit/session_fetcher.h"

using Internal = ZSDK_ZTKOAuth2SignInInternal;

namespace {

using ztk_fetcher_detail::nonEmpty;

struct Hosts {
  std::optional<std::string> accounts;
  std::optional<std::string> authorization;
  std::optional<std::string> userInfo;
};
std::mutex hostsMutex;
Hosts hosts;

// "host[:port]" of the base flow's origin.
std::string authorityOf(const std::string& origin) {
  const auto url = URL::URLWithString(origin);
  if (!url || !url->host()) return "";
  return url->port() ? fmt::format("{}:{}", *url->host(), *url->port()) : *url->host();
}

std::string hostOr(std::optional<std::string> Hosts::*field, const std::string& origin) {
  {
    std::lock_guard lock(hostsMutex);
    if (hosts.*field) return *(hosts.*field);
  }
  return authorityOf(origin);
}

void setHost(std::optional<std::string> Hosts::*field, std::optional<std::string> host) {
  std::lock_guard lock(hostsMutex);
  hosts.*field = std::move(host);
}

URL httpsURL(const std::string& text) {
  const auto url = URL::URLWithString(text);
  return url ? *url : URL::fileURLWithPath("/");
}

// Values pasted into a query are encoded, so that "&", "#" or "+" in them cannot change it.
std::string encoded(const std::string& value) {
  return *ZSDK_ZTKOAuth2Authentication::encodedOAuthValueForString(value);
}

std::string sourceOrDefault(const std::optional<std::string>& source) {
  return nonEmpty(source) ? *source : Internal::defaultSourceString();
}

std::string bodyText(const std::optional<Data>& data) { return data ? data->toString() : std::string(); }

}  // namespace

std::string Internal::accountsHost() { return hostOr(&Hosts::accounts, providerHosts().accountsOrigin); }
void Internal::setAccountsHost(std::optional<std::string> host) { setHost(&Hosts::accounts, std::move(host)); }
std::string Internal::authorizationHost() { return hostOr(&Hosts::authorization, providerHosts().accountsOrigin); }
void Internal::setAuthorizationHost(std::optional<std::string> host) {
  setHost(&Hosts::authorization, std::move(host));
}
std::string Internal::userInfoHost() { return hostOr(&Hosts::userInfo, providerHosts().apiOrigin); }
void Internal::setUserInfoHost(std::optional<std::string> host) { setHost(&Hosts::userInfo, std::move(host)); }

std::shared_ptr<Internal> Internal::initWithAuthentication(std::shared_ptr<Auth> auth,
                                                           std::optional<URL> authorizationURL,
                                                           std::shared_ptr<void> delegate,
                                                           WebRequestSelector webRequestSelector,
                                                           FinishedSelector finishedSelector) {
  auto signIn = std::make_shared<Internal>();
  signIn->initialize(std::move(auth), std::move(authorizationURL), std::move(delegate), std::move(webRequestSelector),
                     std::move(finishedSelector));
  return signIn;
}

std::shared_ptr<ZSDK_ZTKOAuth2Authentication> Internal::standardZedodoAuthenticationForScope(
    std::optional<std::string> scope, std::optional<std::string> clientID, std::optional<std::string> clientSecret) {
  return standardAuthenticationOf<Internal>(std::move(scope), std::move(clientID), std::move(clientSecret));
}

URL Internal::zedodoAuthorizationURL() {
  return httpsURL(fmt::format("https://{}/o/oauth2/programmatic_auth", authorizationHost()));
}
URL Internal::zedodoTokenURL() { return httpsURL(fmt::format("https://{}/o/oauth2/token", authorizationHost())); }
URL Internal::zedodoRevocationURL() { return httpsURL(fmt::format("https://{}/o/oauth2/revoke", authorizationHost())); }
URL Internal::zedodoUserInfoURL() { return httpsURL(fmt::format("https://{}/oauth2/v3/userinfo", userInfoHost())); }
std::string Internal::loginScope() { return "https://www.zedodo.com/accounts/OAuthLogin"; }

std::string Internal::defaultSourceString() {
  const auto identifier = Bundle::main()->objectForInfoDictionaryKey("CFBundleIdentifier");
  if (identifier && identifier->asString() && !identifier->asString()->empty()) return *identifier->asString();
  return kDefaultSource;
}

void Internal::revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth) {
  revokeTokenAtURL(auth, zedodoRevocationURL());
}

bool Internal::startSigningIn() {
  const auto scope = authentication()->scope();
  if (shouldUseLoginScope_ && (!scope || scope->find(loginScope()) == std::string::npos)) {
    std::vector<std::string> scopes;
    if (scope) scopes.push_back(*scope);
    scopes.push_back(loginScope());
    authentication()->setScope(Auth::scopeWithStrings(scopes));
  }
  return ZSDK_ZTKOAuth2SignIn::startSigningIn();
}

std::optional<ZSDK_ZTKOAuth2SignIn::Form> Internal::parametersForWebRequest() const {
  auto params = ZSDK_ZTKOAuth2SignIn::parametersForWebRequest();
  if (!params) return std::nullopt;
  params->erase("response_type");
  params->erase("redirect_uri");
  if (authorizationEmail_) (*params)["email"] = *authorizationEmail_;
  if (authorizationTemplate_) (*params)["tmpl"] = *authorizationTemplate_;
  return params;
}

bool Internal::cookiesChanged(const std::shared_ptr<HTTPCookieStorage>& cookieStorage) {
  if (!cookieStorage || !authorizationURL()) return false;
  const auto cookies = cookieStorage->cookiesForURL(*authorizationURL());
  if (!cookies) return false;
  for (const auto& cookie : *cookies) {
    if (cookie.name != kCodeCookieName) continue;
    // A script-readable or plain-HTTP cookie could have been planted by the page.
    if (!cookie.isSecure || !cookie.isHTTPOnly) return false;
    authentication()->setKeysForResponseDictionary(Value::Dictionary{{"code", cookie.value}});
    authCodeObtained();
    cookieStorage->deleteCookie(cookie);
    return true;
  }
  return false;
}

std::optional<URL> Internal::clientLoginURL(const std::optional<std::string>& service,
                                            const std::optional<std::string>& source, bool doUberAuthFetch) {
  auto text = fmt::format("https://{}/accounts/OAuthLogin?source={}", accountsHost(), encoded(sourceOrDefault(source)));
  if (service) text += "&service=" + encoded(*service);
  if (doUberAuthFetch) text += "&issueuberauth=1";
  return URL::URLWithString(text);
}

std::optional<URL> Internal::issueAuthTokenURL(const LoginValues& values, const std::optional<std::string>& service) {
  const auto value = [&](const char* key) {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  return URL::URLWithString(fmt::format("https://{}/accounts/IssueAuthToken?service={}&SID={}&LSID={}", accountsHost(),
                                        encoded(service.value_or(kDefaultAuthTokenService)), encoded(value("SID")),
                                        encoded(value("LSID"))));
}

std::optional<URL> Internal::tokenAuthURLWithAuthToken(const std::string& token,
                                                       const std::optional<std::string>& service,
                                                       const std::optional<std::string>& source,
                                                       const std::string& urlString) {
  auto text = fmt::format("https://{}/accounts/TokenAuth?sarp=1&source={}&auth={}&continue={}", accountsHost(),
                          encoded(sourceOrDefault(source)), encoded(token), encoded(urlString));
  if (nonEmpty(service)) text += "&service=" + encoded(*service);
  return URL::URLWithString(text);
}

void Internal::fetchClientLoginValuesWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                              std::optional<std::string> source, bool doUberAuthFetch,
                                              ParseBlock parseBlock, ParsedHandler handler) {
  const auto url = clientLoginURL(service, source, doUberAuthFetch);
  auto fetcher = ZSDK_ZTKSessionFetcher::fetcherWithURLString(url ? url->absoluteString() : "");
  fetcher->setAuthorizer(auth);
  fetcher->setComment("OAuthLogin");
  fetcher->beginFetchWithCompletionHandler([parseBlock = std::move(parseBlock), handler = std::move(handler)](
                                               std::optional<Data> data, std::optional<NSError> error) {
    if (error) {
      handler(std::any(), std::move(error));
      return;
    }
    handler(parseBlock(bodyText(data)), std::nullopt);
  });
}

void Internal::fetchClientLoginValuesWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                              std::optional<std::string> source, LoginValuesHandler handler) {
  fetchClientLoginValuesWithAuth(
      auth, std::move(service), std::move(source), false,
      [](const std::string& body) { return std::any(dictionaryWithClientLoginResponseString(body)); },
      [handler = std::move(handler)](std::any result, std::optional<NSError> error) {
        auto* values = std::any_cast<std::optional<LoginValues>>(&result);
        handler(values ? *values : std::nullopt, std::move(error));
      });
}

void Internal::fetchUberAuthTokenWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                          std::optional<std::string> source, TokenHandler handler) {
  fetchClientLoginValuesWithAuth(
      auth, std::move(service), std::move(source), true,
      [](const std::string& body) { return std::any(std::string(trimAsciiWhitespace(body))); },
      [handler = std::move(handler)](std::any result, std::optional<NSError> error) {
        auto* token = std::any_cast<std::string>(&result);
        handler(token ? std::optional<std::string>(*token) : std::nullopt, std::move(error));
      });
}

void Internal::fetchAuthTokenWithValues(const LoginValues& values, std::optional<std::string> service,
                                        bool /*isSessionOnly*/, TokenHandler handler) {
  const auto url = issueAuthTokenURL(values, service);
  auto fetcher = ZSDK_ZTKSessionFetcher::fetcherWithURLString(url ? url->absoluteString() : "");
  fetcher->setComment("IssueAuthToken");
  fetcher->beginFetchWithCompletionHandler(
      [handler = std::move(handler)](std::optional<Data> data, std::optional<NSError> error) {
        if (error) {
          handler(std::nullopt, std::move(error));
          return;
        }
        const std::string token(trimAsciiWhitespace(bodyText(data)));
        if (token.empty()) {
          handler(std::nullopt, NSError(kZTKOAuth2ErrorDomain, -1));
        } else {
          handler(token, std::nullopt);
        }
      });
}

void Internal::fetchTokenAuthURLWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                         std::optional<std::string> source, std::string urlString, URLHandler handler) {
  fetchUberAuthTokenWithAuth(auth, service, source,
                             [service, source, urlString = std::move(urlString), handler = std::move(handler)](
                                 std::optional<std::string> token, std::optional<NSError> error) {
                               if (error) {
                                 handler(std::nullopt, std::move(error));
                                 return;
                               }
                               handler(tokenAuthURLWithAuthToken(token.value_or(""), service, source, urlString),
                                       std::nullopt);
                             });
}

void Internal::fetchTokenAuthURLWithValues(const LoginValues& values, std::optional<std::string> service,
                                           std::optional<std::string> source, std::string urlString,
                                           URLHandler handler) {
  fetchAuthTokenWithValues(
      values, std::nullopt, false,
      [service = std::move(service), source = std::move(source), urlString = std::move(urlString),
       handler = std::move(handler)](std::optional<std::string> token, std::optional<NSError> error) {
        if (error) {
          handler(std::nullopt, std::move(error));
          return;
        }
        handler(tokenAuthURLWithAuthToken(*token, service, source, urlString), std::nullopt);
      });
}

std::optional<Internal::LoginValues> Internal::dictionaryWithClientLoginResponseString(
    std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  LoginValues values;
  const auto skipBlanks = [](std::string_view s) {
    while (!s.empty() && isAsciiWhitespace(s.front())) s.remove_prefix(1);
    return s;
  };
  std::string_view rest = *text;
  while (!rest.empty()) {
    const auto end = rest.find_first_of("\r\n");
    const auto line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const auto trimmed = skipBlanks(line);
    const auto equals = trimmed.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    const auto value = skipBlanks(trimmed.substr(equals + 1));
    if (value.empty()) continue;
    values[std::string(trimmed.substr(0, equals))] = std::string(value);
  }
  return values;
}
