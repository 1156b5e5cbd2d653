#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/oauth2_sign_in.h"

// Saving, loading and removing authorizations in the keychain (item = the caller's name, account
// "OAuth"), and revoking them, without any screen: the web sign-in controller forwards its class
// methods here, and the sign-in core calls them directly.
class ZSDK_ZTKOAuth2KeychainAuth {
 public:
  using Auth = ZSDK_ZTKOAuth2Authentication;

  // The sign-in flow class whose endpoints loaded authorizations use and that the web sign-in
  // controller runs (ZSDK_ZTKOAuth2SignIn unless set).
  struct SignInClass {
    std::function<URL()> zedodoTokenURL;
    std::function<std::optional<std::string>()> nativeClientRedirectURI;
    std::function<void(const std::shared_ptr<Auth>&)> revokeTokenForZedodoAuthentication;
    std::function<URL()> zedodoAuthorizationURL;
    std::function<std::shared_ptr<Auth>(std::optional<std::string> scope, std::optional<std::string> clientID,
                                        std::optional<std::string> clientSecret)>
        standardZedodoAuthenticationForScope;
    std::function<std::shared_ptr<ZSDK_ZTKOAuth2SignIn>(std::shared_ptr<Auth>, std::optional<URL>,
                                                        std::shared_ptr<void>, ZSDK_ZTKOAuth2SignIn::WebRequestSelector,
                                                        ZSDK_ZTKOAuth2SignIn::FinishedSelector)>
        initWithAuthentication;

    // The class methods of flow class F.
    template <class F>
    static SignInClass of() {
      return {&F::zedodoTokenURL,
              &F::nativeClientRedirectURI,
              [](const std::shared_ptr<Auth>& auth) { F::revokeTokenForZedodoAuthentication(auth); },
              &F::zedodoAuthorizationURL,
              &F::standardZedodoAuthenticationForScope,
              [](auto... args) -> std::shared_ptr<ZSDK_ZTKOAuth2SignIn> {
                return F::initWithAuthentication(std::move(args)...);
              }};
    }
  };
  static SignInClass signInClass();
  // A class with a missing member goes back to the default.
  static void setSignInClass(std::optional<SignInClass> signInClass);

  static constexpr const char* kAccount = "OAuth";

  // Always an authorization; it can authorize only when an item was read.
  static std::shared_ptr<Auth> authForZedodoFromKeychainForName(const std::string& keychainItemName,
                                                                const std::optional<std::string>& clientID,
                                                                const std::optional<std::string>& clientSecret,
                                                                std::optional<NSError>* error = nullptr);
  // Clears the access token, then merges the stored item; true when there was one.
  static bool authorizeFromKeychainForName(const std::string& keychainItemName, const std::shared_ptr<Auth>& auth,
                                           std::optional<NSError>* error = nullptr);
  // Removes the saved item, then stores the authorization's persistence string when it can
  // authorize (-1003 otherwise).
  static bool saveParamsToKeychainForName(const std::string& keychainItemName,
                                          const std::optional<std::string>& accessibility,
                                          const std::shared_ptr<Auth>& auth, std::optional<NSError>* error = nullptr);
  static bool saveParamsToKeychainForName(const std::string& keychainItemName, const std::shared_ptr<Auth>& auth) {
    return saveParamsToKeychainForName(keychainItemName, std::nullopt, auth);
  }
  static bool removeAuthFromKeychainForName(const std::string& keychainItemName);
  static void revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth);

  ZSDK_ZTKOAuth2KeychainAuth() = delete;
};
