#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/net/url_response.h"

inline constexpr const char* NSURLAuthenticationMethodDefault = "NSURLAuthenticationMethodDefault";
inline constexpr const char* NSURLAuthenticationMethodHTTPBasic = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr const char* NSURLAuthenticationMethodHTTPDigest = "NSURLAuthenticationMethodHTTPDigest";
inline constexpr const char* NSURLAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";

inline constexpr const char* NSURLProtectionSpaceHTTP = "http";
inline constexpr const char* NSURLProtectionSpaceHTTPS = "https";
inline constexpr const char* NSURLProtectionSpaceHTTPProxy = "http";
inline constexpr const char* NSURLProtectionSpaceHTTPSProxy = "https";

enum class SecTrustResultType {
  Invalid = 0,
  Proceed = 1,
  Deny = 3,
  Unspecified = 4,
  RecoverableTrustFailure = 5,
  FatalTrustFailure = 6,
  OtherError = 7,
};

// The server-trust object of an https connection. The certificate chain is only seen during the
// handshake, so evaluate() cannot judge it: it answers Unspecified and the connection then
// verifies the chain itself. Accepting a trust that was never evaluated turns that check off.
class SecTrust {
 public:
  SecTrust(std::string host, int port) : host_(std::move(host)), port_(port) {}

  const std::string& host() const { return host_; }
  int port() const { return port_; }
  SecTrustResultType evaluate();
  bool wasEvaluated() const { return evaluated_.load(); }

 private:
  std::string host_;
  int port_;
  std::atomic<bool> evaluated_{false};
};

enum class URLCredentialPersistence { None = 0, ForSession = 1, Permanent = 2, Synchronizable = 3 };

struct URLCredential {
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::shared_ptr<SecTrust> trust;
  URLCredentialPersistence persistence = URLCredentialPersistence::ForSession;

  static URLCredential credentialWithUser(std::string user, std::string password,
                                          URLCredentialPersistence persistence = URLCredentialPersistence::ForSession) {
    return URLCredential{std::move(user), std::move(password), nullptr, persistence};
  }
  static URLCredential credentialForTrust(std::shared_ptr<SecTrust> trust) {
    return URLCredential{std::nullopt, std::nullopt, std::move(trust), URLCredentialPersistence::ForSession};
  }
  bool hasPassword() const { return password.has_value(); }
};

struct URLProtectionSpace {
  std::string host;
  int port = 0;
  std::string protocol;  // "http" / "https"
  std::optional<std::string> realm;
  std::string authenticationMethod = NSURLAuthenticationMethodDefault;
  std::optional<std::string> proxyType;   // set for a proxy's challenge (407)
  std::shared_ptr<SecTrust> serverTrust;  // set for the server-trust method

  bool isProxy() const { return proxyType.has_value(); }
  bool receivesCredentialSecurely() const {
    return protocol == "https" || authenticationMethod == NSURLAuthenticationMethodHTTPDigest;
  }
};

struct URLAuthenticationChallenge {
  URLProtectionSpace protectionSpace;
  std::optional<URLCredential> proposedCredential;
  long previousFailureCount = 0;
  std::shared_ptr<const URLResponse> failureResponse;
  std::optional<NSError> error;
};

enum class URLSessionAuthChallengeDisposition {
  UseCredential = 0,
  PerformDefaultHandling = 1,
  CancelAuthenticationChallenge = 2,
  RejectProtectionSpace = 3,
};
