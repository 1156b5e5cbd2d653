#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "toolkit/oauth2_authentication.h"

// Saving, loading and removing authorizations in the keychain (item = the caller's name, account
// "OAuth"), and revoking them, without any screen: the web sign-in controller forwards its class
// methods here, and the sign-in core calls them directly.
class ZSDK_ZTKOAuth2KeychainAuth {
 public:
  using Auth = ZSDK_ZTKOAuth2Authentication;

  // The sign-in flow class whose endpoints loaded authorizations use (ZSDK_ZTKOAuth2SignIn unless
  // set): its token URL, native redirect URI and revocation.
  struct SignInClass {
    std::function<URL()> zedodoTokenURL;
    std::function<std::optional<std::string>()> nativeClientRedirectURI;
    std::function<void(const std::shared_ptr<Auth>&)> revokeTokenForZedodoAuthentication;
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
