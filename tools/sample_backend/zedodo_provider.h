#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "store.h"

// A fake Zedodo identity provider for one person, under "/zedodo/", behaving as a standard
// authorization server does with a public client: the authorization page redirects at once to
// the loopback address it was given with a code (PKCE S256 required); the token endpoint
// exchanges it once, only with the matching verifier and the same redirect address, rotates
// refresh tokens and ends the whole grant when a used one comes back; user info needs a valid
// access token; revocation needs the client id. Grants, codes and tokens are kept in the store,
// so a sign-in outlives the process. Thread-safe.
class ZedodoProvider {
 public:
  static constexpr const char* kSubject = "2002";

  ZedodoProvider(Store& store, std::chrono::seconds tokenLifetime) : store_(store), tokenLifetime_(tokenLifetime) {}

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

  Store& store_;
  const std::chrono::seconds tokenLifetime_;
  // Each step reads and then writes the store: one at a time.
  std::mutex mutex_;
};
