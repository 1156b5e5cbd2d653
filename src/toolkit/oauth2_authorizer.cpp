// Signing requests: at once with the token in hand, or after the one refresh that every waiting
// request shares.
#include <fmt/format.h>

#include "platform/foundation/dispatch.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_service_protocol.h"

std::shared_ptr<ZSDK_ZTKOAuth2AuthorizationArgs> ZSDK_ZTKOAuth2AuthorizationArgs::argsWithRequest(
    std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
    ZTKFetcherAuthorizationProtocol::DidFinishSelector selector,
    ZTKFetcherAuthorizationProtocol::CompletionHandler completionHandler, std::thread::id thread) {
  auto args = std::make_shared<ZSDK_ZTKOAuth2AuthorizationArgs>();
  args->request = std::move(request);
  args->delegate = std::move(delegate);
  args->selector = std::move(selector);
  args->completionHandler = std::move(completionHandler);
  args->thread = thread;
  return args;
}

void ZSDK_ZTKOAuth2Authentication::authorizeRequest(std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
                                                    DidFinishSelector didFinishSelector) {
  authorizeRequestArgs(Args::argsWithRequest(std::move(request), std::move(delegate), std::move(didFinishSelector),
                                             nullptr, std::this_thread::get_id()));
}

void ZSDK_ZTKOAuth2Authentication::authorizeRequest(std::shared_ptr<URLRequest> request, CompletionHandler handler) {
  authorizeRequestArgs(
      Args::argsWithRequest(std::move(request), nullptr, nullptr, std::move(handler), std::this_thread::get_id()));
}

bool ZSDK_ZTKOAuth2Authentication::authorizeRequest(const std::shared_ptr<URLRequest>& request) {
  return authorizeRequestImmediateArgs(Args::argsWithRequest(request, nullptr, nullptr, nullptr, {}));
}

bool ZSDK_ZTKOAuth2Authentication::authorizeRequestArgs(const std::shared_ptr<Args>& args) {
  std::uint64_t attempt = 0;
  {
    QueueLock lock(queueMutex_);
    if (shouldRefreshAccessToken()) {
      authorizationQueue_.push_back(args);
      if (refreshPending_) return true;
      refreshPending_ = true;
      attempt = ++refreshAttempt_;
    }
  }
  if (attempt == 0) return authorizeRequestImmediateArgs(args);
  startQueuedRefresh(attempt);
  return true;
}

// The token request is started outside the queue lock: starting it calls into the service and
// posts notifications. Requests arriving meanwhile see the refresh pending and wait for it.
void ZSDK_ZTKOAuth2Authentication::startQueuedRefresh(std::uint64_t attempt) {
  auto fetcher = beginTokenFetchWithDelegate(
      shared_from_this(), [attempt](const auto& auth, const auto&, const std::optional<NSError>& error) {
        auth->finishedRefreshWithFetcher(attempt, error);
      });
  std::deque<std::shared_ptr<Args>> unsigned_;
  bool abandoned = false;
  {
    QueueLock lock(queueMutex_);
    if (attempt != refreshAttempt_) {
      abandoned = true;
    } else if (!fetcher) {
      refreshPending_ = false;
      unsigned_.swap(authorizationQueue_);
    } else if (refreshPending_) {
      refreshFetcher_ = fetcher;
    }
  }
  // Stopped while it was being started: nobody waits for it any more.
  if (abandoned && fetcher) fetcher->stopFetching();
  // Nothing to refresh with after all: sign with what there is.
  for (const auto& args : unsigned_) authorizeRequestImmediateArgs(args);
}

void ZSDK_ZTKOAuth2Authentication::finishedRefreshWithFetcher(std::uint64_t attempt,
                                                              const std::optional<NSError>& error) {
  std::deque<std::shared_ptr<Args>> waiting;
  {
    QueueLock lock(queueMutex_);
    if (attempt != refreshAttempt_ || !refreshPending_) return;
    refreshPending_ = false;
    refreshFetcher_.reset();
    waiting.swap(authorizationQueue_);
  }
  const auto token = accessToken();
  const bool hasToken = token && !token->empty();
  postRefreshOutcome(hasToken && !error, error);
  for (const auto& args : waiting) {
    if (!hasToken && !args->error) args->error = error;
    authorizeRequestImmediateArgs(args);
  }
}

void ZSDK_ZTKOAuth2Authentication::postRefreshOutcome(bool succeeded, const std::optional<NSError>& error) {
  if (succeeded) {
    postNotification(kZTKOAuth2AccessTokenRefreshed);
    return;
  }
  Value::Dictionary userInfo;
  if (error) {
    userInfo[kZTKOAuth2ErrorObjectKey] = Value(*error);
    if (error->code == 400) {
      const auto json = error->userInfo.find(kZTKOAuth2ErrorJSONKey);
      const Value* text = json == error->userInfo.end() ? nullptr : json->second.find(kZTKOAuth2ErrorMessageKey);
      if (text && text->asString()) userInfo[kZTKOAuth2ErrorMessageKey] = *text;
    }
  }
  postNotification(kZTKOAuth2AccessTokenRefreshFailed, std::move(userInfo));
}

bool ZSDK_ZTKOAuth2Authentication::authorizeRequestImmediateArgs(const std::shared_ptr<Args>& args) {
  const auto& request = args->request;
  long code = 0;
  if (!shouldAuthorizeAllRequests()) {
    const auto url = request ? request->url : std::nullopt;
    if (!url || (url->scheme() != "https" && !url->isFileURL())) code = ZTKOAuth2ErrorUnauthorizableRequest;
  }
  std::optional<std::string> token;
  if (code == 0) {
    token = authorizationToken();
    if (!token || token->empty()) code = ZTKOAuth2ErrorAuthorizationFailed;
  }
  if (code == 0) {
    if (request) {
      request->setValue(fmt::format("{} {}", "Bearer", *token), "Authorization");
      args->error.reset();
    }
  } else if (!args->error) {
    // A request is not a value: the error names it by its URL.
    Value::Dictionary userInfo;
    if (request) userInfo[kZTKOAuth2ErrorRequestKey] = request->url ? request->url->absoluteString() : "";
    args->error = NSError(kZTKOAuth2ErrorDomain, code, std::move(userInfo));
  }
  const bool succeeded = !args->error;
  if (!args->delegate && !args->completionHandler) return succeeded;

  auto self = shared_from_this();
  if (args->thread == std::this_thread::get_id()) {
    invokeCallbackArgs(args);
  } else {
    auto service = fetcherService();
    auto queue = service ? service->callbackQueue() : nullptr;
    if (!queue) queue = DispatchQueue::main();
    queue->async([self, args] { self->invokeCallbackArgs(args); });
  }
  return succeeded;
}

void ZSDK_ZTKOAuth2Authentication::invokeCallbackArgs(const std::shared_ptr<Args>& args) {
  if (args->delegate && args->selector) args->selector(shared_from_this(), args->request, args->error);
  if (args->completionHandler) args->completionHandler(args->error);
}

void ZSDK_ZTKOAuth2Authentication::stopAuthorization() {
  std::shared_ptr<Fetcher> fetcher;
  {
    QueueLock lock(queueMutex_);
    authorizationQueue_.clear();
    fetcher = std::move(refreshFetcher_);
    refreshFetcher_.reset();
    refreshPending_ = false;
    ++refreshAttempt_;
  }
  if (fetcher) {
    fetcher->stopFetching();
    fetcher->setProperty({}, "delegate");
  }
}

void ZSDK_ZTKOAuth2Authentication::stopAuthorizationForRequest(const std::shared_ptr<URLRequest>& request) {
  {
    QueueLock lock(queueMutex_);
    const auto it = std::find_if(authorizationQueue_.begin(), authorizationQueue_.end(),
                                 [&](const auto& args) { return args->request == request; });
    if (it == authorizationQueue_.end()) return;
    authorizationQueue_.erase(it);
    if (!authorizationQueue_.empty()) return;
  }
  stopAuthorization();
}

bool ZSDK_ZTKOAuth2Authentication::isAuthorizingRequest(const std::shared_ptr<URLRequest>& request) {
  QueueLock lock(queueMutex_);
  return std::any_of(authorizationQueue_.begin(), authorizationQueue_.end(),
                     [&](const auto& args) { return args->request == request; });
}

bool ZSDK_ZTKOAuth2Authentication::isAuthorizedRequest(const std::shared_ptr<URLRequest>& request) {
  if (!request) return false;
  const auto header = request->valueForHTTPHeaderField("Authorization");
  return header && !header->empty();
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKOAuth2Authentication::refreshFetcher() const {
  QueueLock lock(queueMutex_);
  return refreshFetcher_;
}

bool ZSDK_ZTKOAuth2Authentication::waitForCompletionWithTimeout(TimeInterval seconds) {
  const auto fetcher = refreshFetcher();
  return !fetcher || fetcher->waitForCompletionWithTimeout(seconds);
}

bool ZSDK_ZTKOAuth2Authentication::shouldAuthorizeAllRequests() {
  FieldLock lock(fieldMutex_);
  return shouldAuthorizeAllRequests_;
}

void ZSDK_ZTKOAuth2Authentication::setShouldAuthorizeAllRequests(bool flag) {
  FieldLock lock(fieldMutex_);
  shouldAuthorizeAllRequests_ = flag;
}

std::shared_ptr<ZTKSessionFetcherServiceProtocol> ZSDK_ZTKOAuth2Authentication::fetcherService() {
  FieldLock lock(fieldMutex_);
  return fetcherService_.lock();
}

void ZSDK_ZTKOAuth2Authentication::setFetcherService(std::shared_ptr<ZTKSessionFetcherServiceProtocol> service) {
  FieldLock lock(fieldMutex_);
  fetcherService_ = service;
}
