#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"
#include "signin/daz_token_refresher.h"

// The OAuth 2 tokens of a signed-in Zedodo user. Thread-safe.
class DAZAuthentication : public std::enable_shared_from_this<DAZAuthentication> {
 public:
  using Handler = std::function<void(std::optional<std::string> accessToken, std::optional<NSError> error)>;

  // A token that expires sooner than this is refreshed before it is handed out.
  static constexpr TimeInterval kMinimumTokenLifetime = 60;

  DAZAuthentication(std::string clientID, std::optional<std::string> accessToken, Date accessTokenExpirationDate,
                    std::optional<std::string> refreshToken, std::shared_ptr<DAZTokenRefresher> refresher);

  const std::string& clientID() const { return clientID_; }
  std::optional<std::string> accessToken() const;
  Date accessTokenExpirationDate() const;
  std::optional<std::string> refreshToken() const;

  // An access token valid for at least kMinimumTokenLifetime more seconds: the stored one, or else
  // one from a refresh. Handlers that arrive while a refresh runs wait for that same refresh. Every
  // handler runs once, on the main run loop, never inside this call, with a token or an error.
  void getAccessTokenWithHandler(Handler handler);

 private:
  void finishRefresh(const tl::expected<DAZTokenGrant, NSError>& result);

  const std::string clientID_;
  const std::shared_ptr<DAZTokenRefresher> refresher_;
  mutable std::mutex mutex_;
  std::optional<std::string> accessToken_;
  Date expirationDate_;
  std::optional<std::string> refreshToken_;
  bool refreshing_ = false;
  std::vector<Handler> waiting_;
};
