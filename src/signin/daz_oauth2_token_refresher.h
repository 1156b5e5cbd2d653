#pragma once

#include <memory>
#include <string>

#include "signin/daz_oauth2_stored_grant.h"
#include "signin/daz_token_refresher.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/session_fetcher_service.h"

// Refreshes a signed-in user's access token at the provider's token endpoint, as a renewal of the
// stored grant (DAZOAuth2StoredGrant): the token presented is the keychain's when it holds the
// same user's, since another program may have rotated it; a rotation is saved over the grant used.
class DAZOAuth2TokenRefresher : public DAZTokenRefresher, public std::enable_shared_from_this<DAZOAuth2TokenRefresher> {
 public:
  // `signedIn`: the authorization of the sign-in (client, token endpoint, identity).
  DAZOAuth2TokenRefresher(std::shared_ptr<ZSDK_ZTKOAuth2Authentication> signedIn,
                          std::shared_ptr<ZSDK_ZTKSessionFetcherService> service, TimeInterval keychainLockTimeout = 10);

  // Completes on the main run loop.
  void refreshAccessToken(const std::string& refreshToken, Completion completion) override;

 private:
  void finished(const DAZOAuth2StoredGrant::Outcome& outcome, const std::string& heldToken,
                const Completion& completion);

  const std::shared_ptr<ZSDK_ZTKOAuth2Authentication> signedIn_;
  const std::shared_ptr<ZSDK_ZTKSessionFetcherService> service_;
  const TimeInterval keychainLockTimeout_;
};
