#include "toolkit/session_fetcher.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <utility>

#include "platform/foundation/date_formatter.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

TimeInterval retryAfterSeconds(std::string_view headerValue, Date now) {
  DateFormatter formatter("EEE',' dd MMM yyyy HH':'mm':'ss z");
  formatter.setLocale("en_US");
  formatter.setTimeZone("GMT");
  TimeInterval seconds = 0;
  if (auto date = formatter.dateFromString(headerValue)) {
    seconds = date->timeIntervalSinceDate(now);
  } else {
    seconds = static_cast<TimeInterval>(leadingIntegerValue(headerValue));
  }
  return std::max(seconds, 0.0);
}

// ---------------------------------------------------------------------------------------------
// Retry

void ZSDK_ZTKSessionFetcher::setRetryRandomSource(std::function<std::uint32_t()> source) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.randomSource = std::move(source);
  state.hasRandomSource.store(static_cast<bool>(state.randomSource), std::memory_order_release);
}

bool ZSDK_ZTKSessionFetcher::isRetryError(const NSError& error) {
  if (error.domain == kZTKSessionFetcherStatusDomain) {
    return error.code == 408 || error.code == 502 || error.code == 503 || error.code == 504;
  }
  if (error.domain == NSURLErrorDomain) {
    return error.code == NSURLErrorTimedOut || error.code == NSURLErrorNetworkConnectionLost;
  }
  return false;
}

NSError ZSDK_ZTKSessionFetcher::statusErrorLocked(int status) const {
  Value::Dictionary userInfo;
  if (downloadedData_ && !downloadedData_->empty()) userInfo[kZTKSessionFetcherStatusDataKey] = *downloadedData_;
  return NSError(kZTKSessionFetcherStatusDomain, status, std::move(userInfo));
}

void ZSDK_ZTKSessionFetcher::shouldRetryNowForStatus(int status, std::optional<NSError> error, RetryResponse response) {
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  {
    Lock lock(mutex_);
    if (authorizer_ && !hasAttemptedAuthRefresh_ && !redirectedToOtherOrigin_ && status == 401) {
      authorizer = authorizer_;
    }
  }
  bool refreshRetry = false;
  if (authorizer && authorizer->primeForRefresh()) {
    Lock lock(mutex_);
    hasAttemptedAuthRefresh_ = true;
    if (request_) request_->setValue(std::nullopt, "Authorization");
    refreshRetry = true;
  }

  bool stop = false;
  bool suggestion = false;
  std::optional<NSError> retryError;
  RetryBlock retryBlock;
  std::shared_ptr<DispatchQueue> queue;
  {
    Lock lock(mutex_);
    if (userStoppedFetching_) {
      stop = true;
    } else if (!refreshRetry) {
      if (!isRetryEnabled_) {
        stop = true;
      } else {
        const bool hasRetryAfter = retryAfterHeaderLocked().has_value();
        const TimeInterval next = nextRetryIntervalLocked();
        const TimeInterval max = maxRetryInterval_;
        const TimeInterval elapsed =
            initialRequestDate_ ? Date::now().timeIntervalSinceDate(*initialRequestDate_) : 0.0;
        // A server's Retry-After may exceed the cap, but never lifts the bound on the whole series.
        if (!hasRetryAfter && next >= max) {
          stop = true;
        } else if (max > 0 && 3 * max < elapsed) {
          stop = true;
        }
      }
    }
    if (!stop) {
      const NSError statusError = statusErrorLocked(status);
      retryError = error ? *error : statusError;
      suggestion =
          refreshRetry || isRetryError(*retryError) || (error && !(*error == statusError) && isRetryError(statusError));
      retryBlock = retryBlock_;
      queue = callbackQueue_;
    }
  }
  if (stop) {
    response(false);
    return;
  }
  if (!retryBlock) {
    response(suggestion);
    return;
  }
  invokeOnCallbackQueue(
      queue, false, [retryBlock, suggestion, retryError, response] { retryBlock(suggestion, retryError, response); });
}

std::optional<std::string> ZSDK_ZTKSessionFetcher::retryAfterHeaderLocked() const {
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(responseLocked());
  if (!http) return std::nullopt;
  return http->valueForHTTPHeaderField("Retry-After");
}

bool ZSDK_ZTKSessionFetcher::hasRetryAfterInterval() const {
  Lock lock(mutex_);
  return retryAfterHeaderLocked().has_value();
}

TimeInterval ZSDK_ZTKSessionFetcher::retryAfterInterval() const {
  std::optional<std::string> header;
  {
    Lock lock(mutex_);
    header = retryAfterHeaderLocked();
  }
  if (!header) return 0;
  return retryAfterSeconds(*header, Date::now());
}

TimeInterval ZSDK_ZTKSessionFetcher::nextRetryIntervalLocked() const {
  TimeInterval seconds = 0;
  if (statusCode() == 503 && retryAfterHeaderLocked()) {
    seconds = retryAfterInterval();
  } else {
    seconds = lastRetryInterval_ * retryFactor_;
    if (maxRetryInterval_ > 0 && seconds >= maxRetryInterval_) seconds = maxRetryInterval_;
  }
  // Every wait is at least the minimum, a server's "Retry-After: 0" included.
  return std::max(seconds, minRetryInterval_);
}

TimeInterval ZSDK_ZTKSessionFetcher::nextRetryInterval() const {
  Lock lock(mutex_);
  return nextRetryIntervalLocked();
}

void ZSDK_ZTKSessionFetcher::beginRetryTimer() {
  auto self = shared_from_this();
  if (!RunLoop::isMainThread()) {
    DispatchGroup group = callbackGroup();
    group.enter();
    DispatchQueue::main()->async([self, group] {
      GroupLeaver leaver{group};
      self->beginRetryTimer();
    });
    return;
  }
  TimeInterval interval = 0;
  {
    Lock lock(mutex_);
    const TimeInterval cap = maxRetryInterval_ > 0 ? maxRetryInterval_ : std::numeric_limits<double>::max();
    interval = std::min(nextRetryIntervalLocked(), cap);
  }
  destroyRetryTimer();
  {
    Lock lock(mutex_);
    lastRetryInterval_ = interval;
    retryTimer_ = RunLoop::main().scheduledTimer(interval, false, [self](Timer&) { self->retryTimerFired(); });
  }
  postNotification(Notification::RetryDelayStarted);
}

void ZSDK_ZTKSessionFetcher::destroyRetryTimer() {
  std::shared_ptr<Timer> timer;
  {
    Lock lock(mutex_);
    timer = std::exchange(retryTimer_, nullptr);
  }
  if (!timer) return;
  timer->invalidate();
  postNotification(Notification::RetryDelayStopped);
}

void ZSDK_ZTKSessionFetcher::retryTimerFired() {
  auto self = shared_from_this();  // the timer's callback is dropped below
  destroyRetryTimer();
  {
    Lock lock(mutex_);
    ++retryCount_;
  }
  retryFetch();
}

void ZSDK_ZTKSessionFetcher::retryFetch() {
  stopFetchReleasingCallbacks(false);
  CompletionHandler handler;
  {
    Lock lock(mutex_);
    if (didCreateSessionIdentifier_) {
      // The next attempt makes a fresh background identifier.
      forgetSessionIdentifierForFetcher();
      configuration_.reset();
    }
    handler = completionHandler_;
  }
  beginFetchWithCompletionHandler(std::move(handler));
}

// ---------------------------------------------------------------------------------------------
// Redirects and challenges

void ZSDK_ZTKSessionFetcher::willPerformHTTPRedirection(const std::shared_ptr<URLSession>&,
                                                        const std::shared_ptr<URLSessionTask>& task,
                                                        const std::shared_ptr<const HTTPURLResponse>& redirectResponse,
                                                        const URLRequest& newRequest,
                                                        RedirectCompletion completionHandler) {
  if (!recordTask(task)) {
    completionHandler(std::nullopt);
    return;
  }
  enum class Answer { Refuse, Unchanged, Follow };
  Answer answer = Answer::Follow;
  URLRequest redirectRequest;
  URL current;
  WillRedirectBlock block;
  {
    Lock lock(mutex_);
    if (userStoppedFetching_) {
      answer = Answer::Refuse;
    } else if (!redirectResponse || !newRequest.url || !request_ || !request_->url) {
      answer = Answer::Unchanged;
    } else {
      redirectRequest = *request_;
      current = *request_->url;
      const URL& target = *newRequest.url;
      std::string scheme = current.scheme().value_or("");
      const std::string redirectScheme = target.scheme().value_or("");
      // Upgrades are followed, downgrades are not.
      if (asciiEqualIgnoringCase(scheme, "http") && asciiEqualIgnoringCase(redirectScheme, "https"))
        scheme = redirectScheme;
      redirectRequest.url = urlWithScheme(target, scheme);
      // The session chose the method and body: after a 303 (or a 301/302 answering a POST) a GET
      // without the body.
      redirectRequest.httpMethod = newRequest.httpMethod;
      redirectRequest.httpBody = newRequest.httpBody;
      redirectRequest.httpBodyStream = newRequest.httpBodyStream;
      for (const auto& [name, value] : newRequest.allHTTPHeaderFields) redirectRequest.setValue(value, name);
      // Credentials and cookies meant for one origin must not reach another.
      if (!isSameOrigin(redirectRequest.url, current)) {
        redirectRequest.allHTTPHeaderFields.removeValue("Authorization");
        redirectRequest.allHTTPHeaderFields.removeValue("Cookie");
      }
      response_ = redirectResponse;
      block = willRedirectBlock_;
    }
  }
  if (answer == Answer::Refuse) {
    completionHandler(std::nullopt);
    return;
  }
  if (answer == Answer::Unchanged) {
    completionHandler(newRequest);
    return;
  }
  // The hop is logged with the request that was redirected. It is not the fetch's own entry: the
  // final response still gets one when the fetch finishes.
  if (auto logging = ZSDK_ZTKSessionFetcher::logging()) logging->logFetchWithError(*this, std::nullopt);
  if (!block) {
    {
      Lock lock(mutex_);
      request_ = std::make_shared<URLRequest>(redirectRequest);
      if (!isSameOrigin(request_->url, current)) redirectedToOtherOrigin_ = true;
    }
    completionHandler(redirectRequest);
    return;
  }
  auto self = shared_from_this();
  invokeOnCallbackQueueAfterUserStopped(
      true, [self, block, redirectResponse, redirectRequest, current, completionHandler] {
        block(redirectResponse, redirectRequest,
              [self, current, completionHandler](std::optional<URLRequest> clientRequest) {
                // Without a request from the caller the redirect is refused and the current request kept.
                if (clientRequest) {
                  Lock lock(self->mutex_);
                  self->request_ = std::make_shared<URLRequest>(*clientRequest);
                  if (!isSameOrigin(clientRequest->url, current)) self->redirectedToOtherOrigin_ = true;
                }
                completionHandler(clientRequest);
              });
      });
}

void ZSDK_ZTKSessionFetcher::didReceiveChallenge(const std::shared_ptr<URLSession>&,
                                                 const std::shared_ptr<URLSessionTask>& task,
                                                 const URLAuthenticationChallenge& challenge,
                                                 ChallengeCompletion completionHandler) {
  using Disposition = URLSessionAuthChallengeDisposition;
  if (!recordTask(task)) {
    completionHandler(Disposition::CancelAuthenticationChallenge, std::nullopt);
    return;
  }
  Disposition disposition = Disposition::PerformDefaultHandling;
  std::optional<URLCredential> credential;
  {
    Lock lock(mutex_);
    const auto& space = challenge.protectionSpace;
    if (challenge.previousFailureCount > 2) {
      disposition = Disposition::CancelAuthenticationChallenge;
    } else if (space.authenticationMethod == NSURLAuthenticationMethodServerTrust) {
      if (space.serverTrust) {
        bool trusted = true;
        if (!allowInvalidServerCertificates_) {
          const auto result = space.serverTrust->evaluate();
          trusted = result == SecTrustResultType::Proceed || result == SecTrustResultType::Unspecified;
        }
        if (trusted) {
          disposition = Disposition::UseCredential;
          credential = URLCredential::credentialForTrust(space.serverTrust);
        } else {
          disposition = Disposition::CancelAuthenticationChallenge;
        }
      }
    } else {
      credential = credential_;
      if (space.isProxy() && proxyCredential_) credential = proxyCredential_;
      if (credential) disposition = Disposition::UseCredential;
    }
  }
  completionHandler(disposition, credential);
}
