#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "toolkit/oauth2_sign_in.h"

// The sign-in flow on the provider's programmatic-authorization page: replaceable hosts, no
// redirect URI, the code from a browser cookie; and the account tokens an authorization can be
// turned into (login values, an uber token, a URL that signs a web page in).
class ZSDK_ZTKOAuth2SignInInternal : public ZSDK_ZTKOAuth2SignIn {
 public:
  using LoginValues = std::map<std::string, std::string>;
  using LoginValuesHandler = std::function<void(std::optional<LoginValues> values, std::optional<NSError> error)>;
  using TokenHandler = std::function<void(std::optional<std::string> token, std::optional<NSError> error)>;
  using URLHandler = std::function<void(std::optional<URL> url, std::optional<NSError> error)>;
  // Turns a response body into the handler's result.
  using ParseBlock = std::function<std::any(const std::string& body)>;
  using ParsedHandler = std::function<void(std::any result, std::optional<NSError> error)>;

  static constexpr const char* kCodeCookieName = "oauth_code";
  static constexpr const char* kDefaultSource = "ztk-oauth2i";
  static constexpr const char* kDefaultAuthTokenService = "zaia";

  // Host names ("host" or "host:port"); none puts the default back. The defaults are the hosts
  // of the base flow's endpoints.
  static std::string accountsHost();
  static void setAccountsHost(std::optional<std::string> host);
  static std::string authorizationHost();
  static void setAuthorizationHost(std::optional<std::string> host);
  static std::string userInfoHost();
  static void setUserInfoHost(std::optional<std::string> host);

  static std::shared_ptr<ZSDK_ZTKOAuth2SignInInternal> initWithAuthentication(std::shared_ptr<Auth> auth,
                                                                              std::optional<URL> authorizationURL,
                                                                              std::shared_ptr<void> delegate,
                                                                              WebRequestSelector webRequestSelector,
                                                                              FinishedSelector finishedSelector);

  static std::shared_ptr<Auth> standardZedodoAuthenticationForScope(std::optional<std::string> scope,
                                                                    std::optional<std::string> clientID,
                                                                    std::optional<std::string> clientSecret);
  static URL zedodoAuthorizationURL();
  static URL zedodoTokenURL();
  static URL zedodoRevocationURL();
  static URL zedodoUserInfoURL();
  static std::optional<std::string> nativeClientRedirectURI() { return std::nullopt; }
  static std::string loginScope();
  static std::string defaultSourceString();
  static void revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth);

  std::optional<std::string> authorizationEmail() const { return authorizationEmail_; }
  void setAuthorizationEmail(std::optional<std::string> email) { authorizationEmail_ = std::move(email); }
  std::optional<std::string> authorizationTemplate() const { return authorizationTemplate_; }
  void setAuthorizationTemplate(std::optional<std::string> name) { authorizationTemplate_ = std::move(name); }
  bool shouldUseLoginScope() const { return shouldUseLoginScope_; }
  void setShouldUseLoginScope(bool flag) { shouldUseLoginScope_ = flag; }

  bool startSigningIn() override;
  std::optional<Form> parametersForWebRequest() const override;
  bool titleChanged(const std::string&) override { return false; }
  // Takes the code from a secure, HTTP-only "oauth_code" cookie for the authorization page and
  // deletes it; any other cookie of that name is left alone.
  bool cookiesChanged(const std::shared_ptr<HTTPCookieStorage>& cookieStorage) override;

  // Account tokens. Each handler is called once, on the fetcher's callback queue.
  static void fetchClientLoginValuesWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                             std::optional<std::string> source, LoginValuesHandler handler);
  static void fetchUberAuthTokenWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                         std::optional<std::string> source, TokenHandler handler);
  static void fetchClientLoginValuesWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                             std::optional<std::string> source, bool doUberAuthFetch,
                                             ParseBlock parseBlock, ParsedHandler handler);
  // `isSessionOnly` is accepted and not used.
  static void fetchAuthTokenWithValues(const LoginValues& values, std::optional<std::string> service,
                                       bool isSessionOnly, TokenHandler handler);
  static void fetchTokenAuthURLWithAuth(const std::shared_ptr<Auth>& auth, std::optional<std::string> service,
                                        std::optional<std::string> source, std::string urlString, URLHandler handler);
  static void fetchTokenAuthURLWithValues(const LoginValues& values, std::optional<std::string> service,
                                          std::optional<std::string> source, std::string urlString, URLHandler handler);
  static std::optional<URL> tokenAuthURLWithAuthToken(const std::string& token,
                                                      const std::optional<std::string>& service,
                                                      const std::optional<std::string>& source,
                                                      const std::string& urlString);
  static std::optional<LoginValues> dictionaryWithClientLoginResponseString(std::optional<std::string_view> text);

  // The account-token request URLs.
  static std::optional<URL> clientLoginURL(const std::optional<std::string>& service,
                                           const std::optional<std::string>& source, bool doUberAuthFetch);
  static std::optional<URL> issueAuthTokenURL(const LoginValues& values, const std::optional<std::string>& service);

 protected:
  std::optional<std::string> classNativeClientRedirectURI() const override { return nativeClientRedirectURI(); }
  URL classUserInfoURL() const override { return zedodoUserInfoURL(); }

 private:
  std::optional<std::string> authorizationEmail_;
  std::optional<std::string> authorizationTemplate_;
  bool shouldUseLoginScope_ = false;
};
