#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "store.h"

// A fake Zedodo identity provider for one person, under "/zedodo/", behaving as a standard
// authorization server does with a public client: the authorization page redirects at once to
// the loopback address it was given with a code (PKCE S256 required); the token endpoint
// exchanges it once, only with the matching verifier and the same redirect address, rotates
// refresh tokens and ends the whole grant when a used one comes back, unless it comes back within
// kReuseInterval of its rotation: then it gets again the tokens its rotation issued, so a renewal
// retried after a lost answer gets what that answer held; user info needs a valid access token;
// revocation needs the client id. Grants, codes and tokens are kept in the store, so a sign-in
// outlives the process (the tokens a rotation issued are kept only in memory: past a restart, a
// used token that comes back ends its grant). Thread-safe.
class ZedodoProvider {
 public:
  static constexpr const char* kSubject = "2002";
  static constexpr std::chrono::seconds kReuseInterval{30};

  // `now` gives Unix seconds; the wall clock by default.
  ZedodoProvider(Store& store, std::chrono::seconds tokenLifetime, std::function<std::int64_t()> now = {});

  // POST routes go through `post`, which reads their bodies.
  using PostRoute = std::function<void(const char* pattern, httplib::Server::Handler handler)>;
  void addRoutes(httplib::Server& http, const PostRoute& post);
  // Whose access token `token` is while it is valid: the person's subject, else nothing.
  std::optional<std::string> subjectOfAccessToken(const std::string& token);

 private:
  void authorize(const httplib::Request& request, httplib::Response& response);
  void token(const httplib::Request& request, httplib::Response& response);
  void exchangeCode(const httplib::Params& form, httplib::Response& response);
  void refresh(const httplib::Params& form, httplib::Response& response);
  void userInfo(const httplib::Request& request, httplib::Response& response);
  void revoke(const httplib::Request& request, httplib::Response& response);
  // New tokens for `grant`, the refresh token `spent` (when not empty) used from now on.
  void issueTokens(std::int64_t grant, const std::string& clientID, httplib::Response& response,
                   const std::string& spent = "");

  // What a rotation answered, and when its access token expires.
  struct Rotation {
    std::int64_t at = 0;
    std::int64_t expires = 0;
    nlohmann::json answer;
  };

  Store& store_;
  const std::chrono::seconds tokenLifetime_;
  const std::function<std::int64_t()> now_;
  // By the digest of the refresh token each spent, for kReuseInterval.
  std::map<std::string, Rotation> rotations_;
  // Each step reads and then writes the store: one at a time.
  std::mutex mutex_;
};
