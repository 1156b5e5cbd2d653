#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"
#include "platform/keychain/keychain_lock.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/session_fetcher_service.h"

// One renewal of the grant the keychain keeps, at most one program at a time: the keychain lock
// is held from reading the stored refresh token to saving the rotated one. A program that finds
// it taken waits (at most `lockTimeout` seconds, then goes on without it) and reads what the
// holder saved. A refused token is tried once more when the keychain meanwhile holds another.
class DAZOAuth2StoredGrant : public std::enable_shared_from_this<DAZOAuth2StoredGrant> {
 public:
  using Auth = ZSDK_ZTKOAuth2Authentication;

  struct Request {
    std::string clientID;
    std::shared_ptr<ZSDK_ZTKSessionFetcherService> service;
    TimeInterval lockTimeout = 10;
    // A signed-in session's authorization and the refresh token it holds: renewed when the
    // keychain keeps nothing of the same user. Without it only the stored grant is renewed.
    std::shared_ptr<Auth> session;
    std::optional<std::string> sessionToken;
    // A grant the provider refuses is forgotten, unless the keychain moved on meanwhile.
    bool forgetRefusedGrant = false;
  };

  struct Outcome {
    // The renewed authorization; its refresh token is the presented one when the answer had none.
    std::shared_ptr<Auth> auth;
    std::string usedToken;
    std::optional<NSError> error;
    // The keychain still held the presented token when the answer came (not signed out meanwhile).
    bool stillStored = false;
  };
  // Runs on the main run loop, the lock still held.
  using Done = std::function<void(const Outcome&)>;

  static void renew(Request request, Done done);

 private:
  DAZOAuth2StoredGrant(Request request, Done done) : request_(std::move(request)), done_(std::move(done)) {}

  void locked(std::unique_ptr<KeychainLock> lock);
  void attempt(const std::shared_ptr<Auth>& from, const std::string& token);
  void answered(const std::shared_ptr<Auth>& auth, const std::string& token, std::optional<NSError> error);
  std::shared_ptr<Auth> stored() const;
  bool sameUser(const std::shared_ptr<Auth>& stored) const;
  void finish(Outcome outcome);

  const Request request_;
  Done done_;
  std::unique_ptr<KeychainLock> lock_;
  bool retried_ = false;
};
