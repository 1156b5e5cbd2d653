#include "signin/daz_authentication.h"

#include "platform/foundation/run_loop.h"
#include "signin/daz_sign_in_error.h"

namespace {

void answer(const DAZAuthentication::Handler& handler, std::optional<std::string> token, std::optional<NSError> error) {
  if (!handler) return;
  RunLoop::main().post([handler, token = std::move(token), error = std::move(error)] { handler(token, error); });
}

}  // namespace

DAZAuthentication::DAZAuthentication(std::string clientID, std::optional<std::string> accessToken,
                                     Date accessTokenExpirationDate, std::optional<std::string> refreshToken,
                                     std::shared_ptr<DAZTokenRefresher> refresher)
    : clientID_(std::move(clientID)),
      refresher_(std::move(refresher)),
      accessToken_(std::move(accessToken)),
      expirationDate_(accessTokenExpirationDate),
      refreshToken_(std::move(refreshToken)) {}

std::optional<std::string> DAZAuthentication::accessToken() const {
  std::lock_guard lock(mutex_);
  return accessToken_;
}

Date DAZAuthentication::accessTokenExpirationDate() const {
  std::lock_guard lock(mutex_);
  return expirationDate_;
}

std::optional<std::string> DAZAuthentication::refreshToken() const {
  std::lock_guard lock(mutex_);
  return refreshToken_;
}

void DAZAuthentication::getAccessTokenWithHandler(Handler handler) {
  std::unique_lock lock(mutex_);
  if (accessToken_ && expirationDate_.timeIntervalSinceNow() >= kMinimumTokenLifetime) {
    auto token = accessToken_;
    lock.unlock();
    answer(handler, std::move(token), std::nullopt);
    return;
  }
  waiting_.push_back(std::move(handler));
  if (refreshing_) return;
  refreshing_ = true;
  const auto refreshToken = refreshToken_;
  lock.unlock();

  if (!refresher_ || !refreshToken) {
    finishRefresh(tl::unexpected(
        dazSignInError(DAZSignInErrorCode::HasNoAuthInKeychain, "The access token cannot be refreshed.")));
    return;
  }
  auto once = std::make_shared<std::once_flag>();
  refresher_->refreshAccessToken(*refreshToken,
                                 [self = shared_from_this(), once](tl::expected<DAZTokenGrant, NSError> result) {
                                   std::call_once(*once, [&] { self->finishRefresh(result); });
                                 });
}

void DAZAuthentication::finishRefresh(const tl::expected<DAZTokenGrant, NSError>& result) {
  std::vector<Handler> handlers;
  {
    std::lock_guard lock(mutex_);
    if (result) {
      accessToken_ = result->accessToken;
      expirationDate_ = result->expirationDate;
      if (result->refreshToken) refreshToken_ = result->refreshToken;
    }
    refreshing_ = false;
    handlers.swap(waiting_);
  }
  for (const auto& handler : handlers) {
    if (result) {
      answer(handler, result->accessToken, std::nullopt);
    } else {
      answer(handler, std::nullopt, result.error());
    }
  }
}
