#pragma once

#include <memory>
#include <string>

#include "signin/daz_token_refresher.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/session_fetcher_service.h"

// Refreshes a signed-in user's access token at the provider's token endpoint. When the answer
// rotates the refresh token, the saved authorization is replaced with the new one, so that the
// next start presents a token the provider still accepts.
class DAZOAuth2TokenRefresher : public DAZTokenRefresher, public std::enable_shared_from_this<DAZOAuth2TokenRefresher> {
 public:
  // `signedIn`: the authorization of the sign-in (client, token endpoint, identity).
  DAZOAuth2TokenRefresher(std::shared_ptr<ZSDK_ZTKOAuth2Authentication> signedIn,
                          std::shared_ptr<ZSDK_ZTKSessionFetcherService> service);

  // Completes on the main run loop.
  void refreshAccessToken(const std::string& refreshToken, Completion completion) override;

 private:
  void finished(const std::shared_ptr<ZSDK_ZTKOAuth2Authentication>& auth, const std::string& usedToken,
                const std::optional<NSError>& error, const Completion& completion);

  const std::shared_ptr<ZSDK_ZTKOAuth2Authentication> signedIn_;
  const std::shared_ptr<ZSDK_ZTKSessionFetcherService> service_;
};
