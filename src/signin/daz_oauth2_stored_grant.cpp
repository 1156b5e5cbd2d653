#include "signin/daz_oauth2_stored_grant.h"

#include <thread>

#include "platform/foundation/run_loop.h"
#include "platform/keychain/keychain_lock.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "platform/net/url_session.h"
#include "signin/daz_oauth2_support.h"
#include "signin/daz_sign_in_error.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"

using KeychainAuth = ZSDK_ZTKOAuth2KeychainAuth;

namespace {

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

// Calls `then` on the main run loop with the keychain lock, or without it when the keychain is in
// memory, the lock file cannot be had, or its holder keeps it past `timeout`.
void withKeychainLock(TimeInterval timeout, std::function<void(std::unique_ptr<KeychainLock>)> then) {
  const auto directory = KeychainLock::currentDirectory();
  if (!directory) return then(nullptr);
  if (auto lock = KeychainLock::acquire(*directory)) return then(std::move(lock));
  // Another program is renewing: wait for it off the main thread, counted as network work.
  std::thread([directory = *directory, timeout, then = std::move(then),
               busy = URLSession::holdTransferInFlight()]() mutable {
    auto lock = std::make_shared<std::unique_ptr<KeychainLock>>(KeychainLock::acquire(directory, timeout));
    // Everything the renewal holds goes back to the main thread with it, to be let go there.
    RunLoop::main().post([then = std::move(then), lock, busy = std::move(busy)] { then(std::move(*lock)); });
  }).detach();
}

}  // namespace

void DAZOAuth2StoredGrant::renew(Request request, Done done) {
  std::shared_ptr<DAZOAuth2StoredGrant> self(new DAZOAuth2StoredGrant(std::move(request), std::move(done)));
  const auto timeout = self->request_.lockTimeout;
  withKeychainLock(timeout, [self](std::unique_ptr<KeychainLock> lock) { self->locked(std::move(lock)); });
}

std::shared_ptr<DAZOAuth2StoredGrant::Auth> DAZOAuth2StoredGrant::stored() const {
  return KeychainAuth::authForZedodoFromKeychainForName(daz_oauth2::kKeychainItemName, request_.clientID,
                                                        std::nullopt);
}

bool DAZOAuth2StoredGrant::sameUser(const std::shared_ptr<Auth>& saved) const {
  return !request_.session || saved->userID() == request_.session->userID();
}

void DAZOAuth2StoredGrant::locked(std::unique_ptr<KeychainLock> lock) {
  lock_ = std::move(lock);
  // Read only now: a program that held the lock may have rotated the token.
  const auto saved = stored();
  if (nonEmpty(saved->refreshToken()) && sameUser(saved)) return attempt(saved, *saved->refreshToken());
  if (request_.session && nonEmpty(request_.sessionToken)) return attempt(request_.session, *request_.sessionToken);
  finish({nullptr, "",
          dazSignInError(DAZSignInErrorCode::HasNoAuthInKeychain, "No previous Zedodo sign-in is stored."), false});
}

void DAZOAuth2StoredGrant::attempt(const std::shared_ptr<Auth>& from, const std::string& token) {
  auto auth = Auth::authenticationWithServiceProvider(from->serviceProvider(), from->tokenURL(), from->redirectURI(),
                                                      request_.clientID, std::nullopt);
  auth->setKeysForPersistenceResponseString(from->persistenceResponseString());
  auth->setRefreshToken(token);
  auth->setFetcherService(request_.service);
  if (daz_oauth2::providerIsLoopback()) auth->setShouldAuthorizeAllRequests(true);
  auto self = shared_from_this();
  auto fetcher = auth->beginTokenFetchWithDelegate(
      self, [self, token](const std::shared_ptr<Auth>& refreshed, const auto&, const std::optional<NSError>& error) {
        self->answered(refreshed, token, error);
      });
  if (!fetcher) {
    finish({auth, token,
            dazSignInError(DAZSignInErrorCode::HasNoAuthInKeychain, "The stored Zedodo sign-in cannot be renewed."),
            false});
  }
}

void DAZOAuth2StoredGrant::answered(const std::shared_ptr<Auth>& auth, const std::string& token,
                                    std::optional<NSError> error) {
  const auto saved = stored();
  const bool refused = error && daz_oauth2::grantWasRefused(*error);
  // Another program (one that could not wait for the lock) may have rotated the token meanwhile.
  if (refused && !retried_ && nonEmpty(saved->refreshToken()) && *saved->refreshToken() != token &&
      sameUser(saved)) {
    retried_ = true;
    return attempt(saved, *saved->refreshToken());
  }
  Outcome outcome{auth, token, std::move(error), saved->refreshToken() == token};
  if (!outcome.error && !nonEmpty(auth->accessToken())) outcome.error = ZSDK_ZTKOAuth2SignIn::missingAccessTokenError();
  if (outcome.error) {
    if (refused && outcome.stillStored && request_.forgetRefusedGrant) daz_oauth2::forgetStoredSignIn();
    return finish(std::move(outcome));
  }
  // An answer without a usable refresh token leaves the grant as it was.
  if (!nonEmpty(auth->refreshToken())) auth->setRefreshToken(token);
  // Only over the grant just used: after a sign-out, or a newer sign-in, there is nothing to replace.
  // A live session goes on whatever the keychain does; a restore lasts only if its token is kept.
  if (outcome.stillStored && auth->refreshToken() != token &&
      !KeychainAuth::saveParamsToKeychainForName(daz_oauth2::kKeychainItemName, auth))
    reportUnsavedSignIn(request_.session ? UnsavedSignIn::LastsUntilTheProgramEnds : UnsavedSignIn::Undecided);
  finish(std::move(outcome));
}

void DAZOAuth2StoredGrant::finish(Outcome outcome) {
  auto done = std::move(done_);
  done(outcome);
  lock_.reset();
}
