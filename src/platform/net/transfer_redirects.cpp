#include "platform/net/transfer.h"

#include "platform/foundation/ascii.h"

#include "platform/net/transfer_internal.h"
#include "platform/net/url_error.h"

// Redirects, authentication challenges and server trust: the delegate round trips between hops.

namespace net_detail {

namespace {

constexpr int kMaxRedirects = 16;

}  // namespace

std::optional<std::pair<std::string, std::optional<std::string>>> parseAuthenticate(std::string_view value) {
  std::optional<std::pair<std::string, std::optional<std::string>>> best;
  std::size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == ',')) ++pos;
    std::size_t end = pos;
    while (end < value.size() && value[end] != ' ' && value[end] != ',') ++end;
    std::string token = asciiLowercase(value.substr(pos, end - pos));
    bool isScheme = token == "basic" || token == "digest";
    if (isScheme && token.find('=') == std::string::npos) {
      std::optional<std::string> realm;
      auto r = asciiLowercase(value.substr(end)).find("realm=");
      if (r != std::string::npos) {
        std::string_view rest = value.substr(end + r + 6);
        if (!rest.empty() && rest.front() == '"') {
          rest.remove_prefix(1);
          realm = std::string(rest.substr(0, rest.find('"')));
        } else {
          realm = std::string(trimAsciiWhitespace(rest.substr(0, rest.find(','))));
        }
      }
      std::string method = token == "digest" ? NSURLAuthenticationMethodHTTPDigest : NSURLAuthenticationMethodHTTPBasic;
      if (!best || method == NSURLAuthenticationMethodHTTPDigest) best = std::make_pair(method, realm);
    }
    pos = end;
  }
  return best;
}

void Transfer::handleRedirect() {
  if (++redirects_ > kMaxRedirects) return fail(NSURLErrorHTTPTooManyRedirects);
  auto location = hopResponse_->allHeaderFields().valueForHTTPHeaderField("Location");
  auto target = URL::URLWithString(trimAsciiWhitespace(*location), hopURL_);
  if (!target || !isHTTPScheme(*target) || !target->host() || target->host()->empty()) return acceptFinalHop();

  URLRequest next = *request_;
  next.url = *target;
  bool toGet = (status_ == 303 && next.httpMethod != "HEAD") ||
               ((status_ == 301 || status_ == 302) && next.httpMethod == "POST");
  if (toGet) {
    next.httpMethod = "GET";
    next.httpBody.reset();
    next.httpBodyStream.reset();
    next.allHTTPHeaderFields.removeValue("Content-Type");
    next.allHTTPHeaderFields.removeValue("Content-Length");
  }
  // Credentials stay with the host they were meant for.
  if (hostKey(*target) != hostKey(hopURL_)) next.allHTTPHeaderFields.removeValue("Authorization");

  if (!hasDelegate()) return onRedirectDecision(next);
  auto self = shared_from_this();
  auto completion = makeOnce<std::optional<URLRequest>>(
      [self](std::optional<URLRequest> request) {
        engine().post([self, request] { self->onRedirectDecision(request); });
      },
      [self, next] { engine().post([self, next] { self->onRedirectDecision(next); }); });
  deliver([task = task_, response = hopResponse_, next, completion](URLSessionDelegate& d,
                                                                    const std::shared_ptr<URLSession>& s) {
    d.willPerformHTTPRedirection(s, task, response, next, completion);
  });
}

void Transfer::onRedirectDecision(std::optional<URLRequest> request) {
  if (finished_) return;
  if (!request) return acceptFinalHop();
  if (!request->url || !isHTTPScheme(*request->url)) return fail(NSURLErrorUnsupportedURL);
  if (!request->url->host() || request->url->host()->empty()) return fail(NSURLErrorBadURL);
  request_ = std::make_shared<const URLRequest>(std::move(*request));
  {
    // Until now the task's current request was its original one.
    std::lock_guard lock(task_->mutex_);
    task_->currentRequest_ = request_;
  }
  if (setup_.kind == Kind::Data) {
    if (request_->httpBody) {
      setup_.bodySource = BodySource::Data;
      setup_.bodyData = std::shared_ptr<const Data>(request_, &*request_->httpBody);
    } else if (request_->httpBodyStream) {
      setup_.bodySource = BodySource::Stream;
    } else {
      setup_.bodySource = BodySource::None;
    }
  }
  beginHop();
}

void Transfer::handleChallenge() {
  auto parsed =
      parseAuthenticate(hopResponse_->allHeaderFields().valueForHTTPHeaderField("WWW-Authenticate").value_or(""));
  URLAuthenticationChallenge challenge;
  auto& space = challenge.protectionSpace;
  space.host = asciiLowercase(hopURL_.host().value_or(""));
  space.port = hopURL_.effectivePort();
  space.protocol = hopURL_.scheme().value_or("http");
  space.realm = parsed->second;
  space.authenticationMethod = parsed->first;
  std::string key = hostKey(hopURL_) + "|" + space.realm.value_or("") + "|" + space.authenticationMethod;
  challenge.previousFailureCount = failureCounts_[key];
  if (hopCredential_ && credentialHost_ == hostKey(hopURL_)) {
    challenge.proposedCredential = hopCredential_;
  } else if (auto user = hopURL_.user()) {
    auto decodedUser = stringByRemovingPercentEncoding(*user).value_or(*user);
    auto password = hopURL_.password().value_or("");
    challenge.proposedCredential =
        URLCredential::credentialWithUser(decodedUser, stringByRemovingPercentEncoding(password).value_or(password));
  }
  challenge.failureResponse = hopResponse_;

  if (!hasDelegate())
    return onChallengeDecision(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt, key,
                               challenge);
  auto self = shared_from_this();
  auto completion = makeOnce<URLSessionAuthChallengeDisposition, std::optional<URLCredential>>(
      [self, key, challenge](URLSessionAuthChallengeDisposition d, std::optional<URLCredential> c) {
        engine().post([self, key, challenge, d, c] { self->onChallengeDecision(d, c, key, challenge); });
      },
      [self, key, challenge] {
        engine().post([self, key, challenge] {
          self->onChallengeDecision(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt, key,
                                    challenge);
        });
      });
  deliver([task = task_, challenge, completion](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didReceiveChallenge(s, task, challenge, completion);
  });
}

void Transfer::onChallengeDecision(URLSessionAuthChallengeDisposition disposition,
                                   std::optional<URLCredential> credential, const std::string& spaceKey,
                                   const URLAuthenticationChallenge& challenge) {
  if (finished_) return;
  const std::string& method = challenge.protectionSpace.authenticationMethod;
  switch (disposition) {
    case URLSessionAuthChallengeDisposition::UseCredential:
      if (credential && credential->user) return useCredential(*credential, spaceKey, method);
      return acceptFinalHop();
    case URLSessionAuthChallengeDisposition::PerformDefaultHandling:
      // Only a credential written in the URL, and only once.
      if (challenge.previousFailureCount == 0 && challenge.proposedCredential && !hopCredential_)
        return useCredential(*challenge.proposedCredential, spaceKey, method);
      return acceptFinalHop();
    case URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge: return fail(NSURLErrorCancelled);
    case URLSessionAuthChallengeDisposition::RejectProtectionSpace: return acceptFinalHop();
  }
}

void Transfer::useCredential(const URLCredential& credential, const std::string& spaceKey, const std::string& method) {
  ++failureCounts_[spaceKey];
  hopCredential_ = credential;
  hopAuthMethod_ = method;
  credentialHost_ = hostKey(hopURL_);
  beginHop();
}

void Transfer::askServerTrust(const URL& url) {
  std::string key = hostKey(url);
  URLAuthenticationChallenge challenge;
  auto& space = challenge.protectionSpace;
  space.host = asciiLowercase(url.host().value_or(""));
  space.port = url.effectivePort();
  space.protocol = "https";
  space.authenticationMethod = NSURLAuthenticationMethodServerTrust;
  space.serverTrust = std::make_shared<SecTrust>(space.host, space.port);
  auto self = shared_from_this();
  auto completion = makeOnce<URLSessionAuthChallengeDisposition, std::optional<URLCredential>>(
      [self, key](URLSessionAuthChallengeDisposition d, std::optional<URLCredential> c) {
        engine().post([self, key, d, c] { self->onServerTrustDecision(key, d, c); });
      },
      [self, key] {
        engine().post([self, key] {
          self->onServerTrustDecision(key, URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        });
      });
  deliver([task = task_, challenge, completion](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didReceiveChallenge(s, task, challenge, completion);
  });
}

void Transfer::onServerTrustDecision(const std::string& hostKey, URLSessionAuthChallengeDisposition disposition,
                                     std::optional<URLCredential> credential) {
  if (finished_) return;
  if (disposition == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge)
    return fail(NSURLErrorCancelled);
  // Only a trust accepted without evaluation turns certificate checks off.
  bool acceptedUnevaluated = disposition == URLSessionAuthChallengeDisposition::UseCredential && credential &&
                             credential->trust && !credential->trust->wasEvaluated();
  trustDecisions_[hostKey] = !acceptedUnevaluated;
  beginHop();
}

}  // namespace net_detail
