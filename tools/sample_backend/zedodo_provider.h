#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// A fake Zedodo identity provider for one person, under "/zedodo/", behaving as a standard
// authorization server does with a public client: the authorization page redirects at once to
// the loopback address it was given with a code (PKCE S256 required); the token endpoint
// exchanges it once, only with the matching verifier and the same redirect address, rotates
// refresh tokens and ends the whole grant when a used one comes back; user info needs a valid
// access token; revocation needs the client id. Tokens are kept as digests and compared in
// constant time. Thread-safe.
class ZedodoProvider {
 public:
  static constexpr const char* kSubject = "2002";

  explicit ZedodoProvider(std::chrono::seconds tokenLifetime) : tokenLifetime_(tokenLifetime) {}

  // POST routes go through `post`, which reads their bodies.
  using PostRoute = std::function<void(const char* pattern, httplib::Server::Handler handler)>;
  void addRoutes(httplib::Server& http, const PostRoute& post);
  // Whose access token `token` is while it is valid: the person's subject, else nothing.
  std::optional<std::string> subjectOfAccessToken(const std::string& token);

 private:
  using Clock = std::chrono::steady_clock;
  struct Code {
    std::string clientID, redirectURI, challenge;
    int grant;
    Clock::time_point expires;
    bool used = false;
  };
  struct Grant {
    std::string clientID;
    bool revoked = false;
  };
  struct Token {
    int grant;
    Clock::time_point expires;  // access tokens only
    bool used = false;          // refresh tokens only
  };

  void authorize(const httplib::Request& request, httplib::Response& response);
  void token(const httplib::Request& request, httplib::Response& response);
  void exchangeCode(const httplib::Params& form, httplib::Response& response);
  void refresh(const httplib::Params& form, httplib::Response& response);
  void userInfo(const httplib::Request& request, httplib::Response& response);
  void revoke(const httplib::Request& request, httplib::Response& response);
  void issueTokens(int grant, const std::string& clientID, httplib::Response& response);
  bool liveGrant(int grant, const std::string& clientID);

  const std::chrono::seconds tokenLifetime_;
  std::mutex mutex_;
  int nextGrant_ = 0;
  std::map<int, Grant> grants_;
  // Keyed by the digest of the code or token.
  std::map<std::string, Code> codes_;
  std::map<std::string, Token> accessTokens_;
  std::map<std::string, Token> refreshTokens_;
};
