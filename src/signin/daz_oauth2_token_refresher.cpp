#include "signin/daz_oauth2_token_refresher.h"

#include "signin/daz_oauth2_stored_grant.h"
#include "signin/daz_oauth2_support.h"

using Auth = ZSDK_ZTKOAuth2Authentication;

DAZOAuth2TokenRefresher::DAZOAuth2TokenRefresher(std::shared_ptr<Auth> signedIn,
                                                 std::shared_ptr<ZSDK_ZTKSessionFetcherService> service,
                                                 TimeInterval keychainLockTimeout)
    : signedIn_(std::move(signedIn)), service_(std::move(service)), keychainLockTimeout_(keychainLockTimeout) {}

void DAZOAuth2TokenRefresher::refreshAccessToken(const std::string& refreshToken, Completion completion) {
  DAZOAuth2StoredGrant::Request request;
  request.clientID = signedIn_->clientID().value_or("");
  request.service = service_;
  request.lockTimeout = keychainLockTimeout_;
  request.session = signedIn_;
  request.sessionToken = refreshToken;
  DAZOAuth2StoredGrant::renew(std::move(request), [self = shared_from_this(), refreshToken, completion](
                                                      const DAZOAuth2StoredGrant::Outcome& outcome) {
    self->finished(outcome, refreshToken, completion);
  });
}

void DAZOAuth2TokenRefresher::finished(const DAZOAuth2StoredGrant::Outcome& outcome, const std::string& heldToken,
                                       const Completion& completion) {
  if (outcome.error) {
    completion(
        tl::unexpected(daz_oauth2::describedError(*outcome.error, "The Zedodo access token could not be renewed")));
    return;
  }
  DAZTokenGrant grant{*outcome.auth->accessToken(), outcome.auth->expirationDate().value_or(Date::now()),
                      std::nullopt};
  // The session goes on with the grant renewed, whether this program or another rotated it.
  if (const auto current = outcome.auth->refreshToken(); current && *current != heldToken) {
    grant.refreshToken = current;
    signedIn_->setRefreshToken(current);
  }
  completion(std::move(grant));
}
