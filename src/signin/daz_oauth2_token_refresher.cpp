#include "signin/daz_oauth2_token_refresher.h"

#include "platform/foundation/run_loop.h"
#include "signin/daz_oauth2_support.h"
#include "signin/daz_sign_in_error.h"
#include "toolkit/oauth2_keychain_auth.h"

using Auth = ZSDK_ZTKOAuth2Authentication;

DAZOAuth2TokenRefresher::DAZOAuth2TokenRefresher(std::shared_ptr<Auth> signedIn,
                                                 std::shared_ptr<ZSDK_ZTKSessionFetcherService> service)
    : signedIn_(std::move(signedIn)), service_(std::move(service)) {}

void DAZOAuth2TokenRefresher::refreshAccessToken(const std::string& refreshToken, Completion completion) {
  auto auth = Auth::authenticationWithServiceProvider(signedIn_->serviceProvider(), signedIn_->tokenURL(),
                                                      signedIn_->redirectURI(), signedIn_->clientID(), std::nullopt);
  auth->setKeysForPersistenceResponseString(signedIn_->persistenceResponseString());
  auth->setRefreshToken(refreshToken);
  auth->setFetcherService(service_);
  auto self = shared_from_this();
  auto fetcher = auth->beginTokenFetchWithDelegate(
      self, [self, refreshToken, completion](const std::shared_ptr<Auth>& refreshed, const auto&,
                                             const std::optional<NSError>& error) {
        self->finished(refreshed, refreshToken, error, completion);
      });
  if (!fetcher) {
    RunLoop::main().post([completion] {
      completion(tl::unexpected(
          dazSignInError(DAZSignInErrorCode::HasNoAuthInKeychain, "The access token cannot be refreshed.")));
    });
  }
}

void DAZOAuth2TokenRefresher::finished(const std::shared_ptr<Auth>& auth, const std::string& usedToken,
                                       const std::optional<NSError>& error, const Completion& completion) {
  const auto accessToken = auth->accessToken();
  if (error || !accessToken || accessToken->empty()) {
    const NSError failure = error ? *error : NSError(kZTKOAuth2ErrorDomain, ZTKOAuth2ErrorAuthorizationFailed);
    completion(tl::unexpected(daz_oauth2::describedError(failure, "The Zedodo access token could not be renewed")));
    return;
  }
  DAZTokenGrant grant{*accessToken, auth->expirationDate().value_or(Date::now()), std::nullopt};
  const auto rotated = auth->refreshToken();
  if (rotated && !rotated->empty() && *rotated != usedToken) {
    grant.refreshToken = rotated;
    signedIn_->setRefreshToken(rotated);
    // Only over the grant just used: after a sign-out, or a newer sign-in, there is nothing to
    // replace.
    const auto saved = ZSDK_ZTKOAuth2KeychainAuth::authForZedodoFromKeychainForName(
        daz_oauth2::kKeychainItemName, signedIn_->clientID(), std::nullopt);
    if (saved->refreshToken() == usedToken)
      ZSDK_ZTKOAuth2KeychainAuth::saveParamsToKeychainForName(daz_oauth2::kKeychainItemName, auth);
  }
  completion(std::move(grant));
}
