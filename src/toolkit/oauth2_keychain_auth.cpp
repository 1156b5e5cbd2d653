#include "toolkit/oauth2_keychain_auth.h"

#include <mutex>

#include "platform/keychain/keychain_store.h"
#include "toolkit/oauth2_keychain.h"
#include "toolkit/oauth2_sign_in.h"

namespace {

using SignInClass = ZSDK_ZTKOAuth2KeychainAuth::SignInClass;

SignInClass defaultSignInClass() { return SignInClass::of<ZSDK_ZTKOAuth2SignIn>(); }

std::mutex signInClassMutex;
SignInClass currentSignInClass = defaultSignInClass();

}  // namespace

SignInClass ZSDK_ZTKOAuth2KeychainAuth::signInClass() {
  std::lock_guard lock(signInClassMutex);
  return currentSignInClass;
}

void ZSDK_ZTKOAuth2KeychainAuth::setSignInClass(std::optional<SignInClass> signInClass) {
  std::lock_guard lock(signInClassMutex);
  if (signInClass && signInClass->zedodoTokenURL && signInClass->nativeClientRedirectURI &&
      signInClass->revokeTokenForZedodoAuthentication && signInClass->zedodoAuthorizationURL &&
      signInClass->standardZedodoAuthenticationForScope && signInClass->initWithAuthentication) {
    currentSignInClass = std::move(*signInClass);
  } else {
    currentSignInClass = defaultSignInClass();
  }
}

std::shared_ptr<ZSDK_ZTKOAuth2Authentication> ZSDK_ZTKOAuth2KeychainAuth::authForZedodoFromKeychainForName(
    const std::string& keychainItemName, const std::optional<std::string>& clientID,
    const std::optional<std::string>& clientSecret, std::optional<NSError>* error) {
  const auto flowClass = signInClass();
  auto auth =
      Auth::authenticationWithServiceProvider(ZSDK_ZTKOAuth2SignIn::kServiceProvider, flowClass.zedodoTokenURL(),
                                              flowClass.nativeClientRedirectURI(), clientID, clientSecret);
  authorizeFromKeychainForName(keychainItemName, auth, error);
  return auth;
}

bool ZSDK_ZTKOAuth2KeychainAuth::authorizeFromKeychainForName(const std::string& keychainItemName,
                                                              const std::shared_ptr<Auth>& auth,
                                                              std::optional<NSError>* error) {
  auth->setAccessToken(std::nullopt);
  // A stored authorization is a sign-in: a keychain that cannot use it says the user is signed out.
  KeychainStore::noteHoldsSignIn(keychainItemName, kAccount);
  const auto stored = ZSDK_ZTKOAuth2Keychain::defaultKeychain()->passwordForService(keychainItemName, kAccount, error);
  if (!stored) return false;
  auth->setKeysForResponseString(*stored);
  return true;
}

bool ZSDK_ZTKOAuth2KeychainAuth::saveParamsToKeychainForName(const std::string& keychainItemName,
                                                             const std::optional<std::string>& accessibility,
                                                             const std::shared_ptr<Auth>& auth,
                                                             std::optional<NSError>* error) {
  KeychainStore::noteHoldsSignIn(keychainItemName, kAccount);
  removeAuthFromKeychainForName(keychainItemName);
  if (!auth || !auth->canAuthorize()) {
    if (error) *error = NSError(kZTKOAuth2ErrorDomain, ZTKOAuth2ErrorTokenUnavailable);
    return false;
  }
  return ZSDK_ZTKOAuth2Keychain::defaultKeychain()->setPassword(
      auth->persistenceResponseString(), keychainItemName,
      accessibility.value_or(std::string(kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly)), kAccount, error);
}

bool ZSDK_ZTKOAuth2KeychainAuth::removeAuthFromKeychainForName(const std::string& keychainItemName) {
  return ZSDK_ZTKOAuth2Keychain::defaultKeychain()->removePasswordForService(keychainItemName, kAccount);
}

void ZSDK_ZTKOAuth2KeychainAuth::revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth) {
  signInClass().revokeTokenForZedodoAuthentication(auth);
}
