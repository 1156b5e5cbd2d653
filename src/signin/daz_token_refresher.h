#pragma once

#include <functional>
#include <optional>
#include <string>

#include <tl/expected.hpp>

#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"

// A new access token from the token endpoint.
struct DAZTokenGrant {
  std::string accessToken;
  Date expirationDate;
  // A rotated refresh token, when the endpoint sent one.
  std::optional<std::string> refreshToken;
};

// Exchanges a refresh token for a new access token (the OAuth 2 toolkit's job).
class DAZTokenRefresher {
 public:
  using Completion = std::function<void(tl::expected<DAZTokenGrant, NSError> result)>;

  virtual ~DAZTokenRefresher() = default;
  // completion runs once, on any thread, possibly inside this call.
  virtual void refreshAccessToken(const std::string& refreshToken, Completion completion) = 0;
};
