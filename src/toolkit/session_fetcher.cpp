#include "toolkit/session_fetcher.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <array>
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
#include <tuple>
#include <utility>

#include "platform/foundation/date_formatter.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

namespace {

std::optional<Data> resumeDataOf(const std::optional<NSError>& error) {
  if (!error) return std::nullopt;
  const auto found = error->userInfo.find(NSURLSessionDownloadTaskResumeData);
  if (found == error->userInfo.end() || !found->second.asData()) return std::nullopt;
  return *found->second.asData();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithRequest(std::optional<URLRequest> request) {
  return std::make_shared<ZSDK_ZTKSessionFetcher>(std::move(request));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithURL(const URL& url) {
  return fetcherWithRequest(URLRequest::requestWithURL(url));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithURLString(std::string_view urlString) {
  URLRequest request;
  request.url = URL::URLWithString(urlString);
  return fetcherWithRequest(std::move(request));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::initWithRequest(
    std::optional<URLRequest> request, std::optional<URLSessionConfiguration> configuration) {
  return std::make_shared<ZSDK_ZTKSessionFetcher>(std::move(request), std::move(configuration));
}

ZSDK_ZTKSessionFetcher::ZSDK_ZTKSessionFetcher(std::optional<URLRequest> request,
                                               std::optional<URLSessionConfiguration> configuration) {
  if (request) request_ = std::make_shared<URLRequest>(std::move(*request));
  configuration_ = std::move(configuration);
  bodyLength_ = request_ && request_->httpBody ? static_cast<std::int64_t>(request_->httpBody->size())
                                               : NSURLSessionTransferSizeUnknown;
  callbackQueue_ = DispatchQueue::main();
  delegateQueue_ = callbackQueue_;
  minRetryInterval_ = randomMinRetryInterval();
}

ZSDK_ZTKSessionFetcher::~ZSDK_ZTKSessionFetcher() {
  if (sessionIdentifier_) {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    auto it = state.fetchersBySessionIdentifier.find(*sessionIdentifier_);
    if (it != state.fetchersBySessionIdentifier.end() && it->second.expired())
      state.fetchersBySessionIdentifier.erase(it);
  }
}

std::string ZSDK_ZTKSessionFetcher::description() const {
  Lock lock(mutex_);
  return fmt::format("ZSDK_ZTKSessionFetcher {} ({})", fmt::ptr(this), requestURLString(request_));
}

// ---------------------------------------------------------------------------------------------
// Begin

ZSDK_ZTKSessionFetcher::CompletionHandler ZSDK_ZTKSessionFetcher::completionHandlerWithTarget(
    std::shared_ptr<void> target, FinishedSelector finishedSelector) {
  // The fetcher is held weakly: the handler is stored in it. Callbacks hold it while they run.
  std::weak_ptr<ZSDK_ZTKSessionFetcher> weakSelf = weak_from_this();
  return [target = std::move(target), finishedSelector = std::move(finishedSelector), weakSelf](
             std::optional<Data> data, std::optional<NSError> error) {
    if (target && finishedSelector) finishedSelector(weakSelf.lock(), std::move(data), std::move(error));
  };
}

void ZSDK_ZTKSessionFetcher::beginFetchWithDelegate(std::shared_ptr<void> delegate, FinishedSelector finishedSelector) {
  beginFetchWithCompletionHandler(completionHandlerWithTarget(std::move(delegate), std::move(finishedSelector)));
}

// What one begin learns in one step and needs in a later one.
struct ZSDK_ZTKSessionFetcher::BeginState {
  std::shared_ptr<ZSDK_ZTKSessionFetcher> self;  // alive through every step, whoever lets go meanwhile
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::string scheme;
  bool restoring = false;
  bool canShare = false;
  std::shared_ptr<URLSession> session;
  // A session this fetcher makes for itself, read with the checks: what it is made with.
  std::optional<URLSessionConfiguration> configuration;
  ConfigurationBlock configurationBlock;
  std::shared_ptr<DispatchQueue> delegateQueue;
  // The session made here waits for the next step's lock to be stored.
  bool storeSession = false;
  bool ownsSession = false;
  bool isGET = false;
  bool needsUploadTask = false;
  std::string effectiveMethod;
  std::shared_ptr<URLSessionTask> task;
  bool useTestBlock = false;
  bool backgroundTaskWanted = false;
};

void ZSDK_ZTKSessionFetcher::beginFetchWithCompletionHandler(CompletionHandler handler) {
  bool fetching = false;
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::shared_ptr<URLRequest> request;
  BeginState begin;
  bool checked = false;
  bool passed = false;
  std::optional<NSError> failure;
  // Under the lock that decided the fetch is this caller's: its first step goes there too.
  const auto acceptLocked = [&] {
    completionHandler_ = std::move(handler);
    userStoppedFetching_.store(false, std::memory_order_release);
    checked = true;
    passed = passBeginChecksLocked(begin, failure);
  };
  {
    Lock lock(mutex_);
    // A fetcher whose earlier fetch released its callbacks answers a new caller on the main queue.
    if (!callbackQueue_) callbackQueue_ = DispatchQueue::main();
    fetching = sessionTask_ || retryTimer_;
    if (!fetching) {
      // Nobody else can hold this fetch: it begins without asking around.
      if (!authorizer_ && !service_) {
        acceptLocked();
      } else {
        authorizer = authorizer_;
        service = service_;
        request = request_;
      }
    }
  }
  if (!checked && !fetching && !heldByCollaborators(authorizer, service, request)) {
    Lock lock(mutex_);
    acceptLocked();
  }
  if (checked) {
    if (failure) failToBeginFetchWithError(std::move(failure));
    if (!passed) return;
    begin.self = shared_from_this();
    continueBegin(begin, true, true);
    return;
  }
  {
    std::shared_ptr<DispatchQueue> queue;
    NSError error;
    {
      Lock lock(mutex_);
      // A restored background fetch runs without a handler until its owner begins it.
      if (sessionTask_ && sessionIdentifier_ && !completionHandler_) {
        completionHandler_ = std::move(handler);
        return;
      }
      queue = callbackQueue_;
      error = NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorBeginFailed, failingURLUserInfo(request_));
    }
    // Only the newcomer is refused; the running fetch keeps its caller and callbacks.
    if (handler) invokeOnCallbackQueue(queue, false, [handler, error] { handler(std::nullopt, error); });
  }
}

void ZSDK_ZTKSessionFetcher::beginFetchMayDelay(bool mayDelay, bool mayAuthorize) {
  BeginState begin;
  begin.self = shared_from_this();
  if (!passBeginChecks(begin)) return;
  continueBegin(begin, mayDelay, mayAuthorize);
}

void ZSDK_ZTKSessionFetcher::continueBegin(BeginState& begin, bool mayDelay, bool mayAuthorize) {
  chooseSession(begin);
  // Stopped while its session was being made.
  if (!begin.session) return;
  if (begin.restoring) {
    assignLocked(shouldInvalidateSession_, true);
    restoreBackgroundSessionTasks();
    return;
  }
  if (mayDelay && !admitToService(begin)) return;
  const TaskStep step = prepareRequestBody(begin, mayAuthorize);
  if (step == TaskStep::Stopped) return;
  if (step == TaskStep::Pending) {
    if (mayAuthorize && needsAuthorization(begin)) {
      dropSharedSession(begin);
      authorizeRequest();
      return;
    }
    if (!createTask(begin)) return;
  } else if (step == TaskStep::NoSession) {
    failToBeginFetchWithError(std::nullopt);
    return;
  }
  startTask(begin);
}

bool ZSDK_ZTKSessionFetcher::passBeginChecks(BeginState& begin) {
  std::optional<NSError> failure;
  bool passed = false;
  {
    Lock lock(mutex_);
    passed = passBeginChecksLocked(begin, failure);
  }
  if (failure) failToBeginFetchWithError(std::move(failure));
  return passed;
}

bool ZSDK_ZTKSessionFetcher::passBeginChecksLocked(BeginState& begin, std::optional<NSError>& failure) {
  // The running task answers the stored completion.
  if (sessionTask_) return false;
  begin.service = service_;
  failure = beginFailureLocked(begin.scheme);
  if (failure) return false;
  if (!cookieStorage_) cookieStorage_ = staticCookieStorage();
  begin.restoring = sessionIdentifier_ && !request_;
  canShareSession_ = begin.restoring ? false : !useBackgroundSession_;
  begin.canShare = canShareSession_;
  begin.session = session_;
  if (!begin.restoring) resetDownloadStateLocked();
  // Nothing runs between here and making a session of this fetcher's own: what it is made with is
  // read now.
  if (!begin.session && !(begin.canShare && begin.service)) {
    begin.configuration = sessionConfigurationLocked(begin);
    begin.configurationBlock = configurationBlock_;
    begin.delegateQueue = delegateQueue_;
  }
  return true;
}

std::optional<NSError> ZSDK_ZTKSessionFetcher::beginFailureLocked(std::string& scheme) const {
  const URL* url = request_ && request_->url ? &*request_->url : nullptr;
  scheme = url ? url->scheme().value_or("") : "";
  if (!url && !downloadResumeData_ && !sessionIdentifier_) {
    return NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorBeginFailed, failingURLUserInfo(request_));
  }
  // URL parsing lower-cases the scheme.
  if (!url || scheme == "data" || scheme == "https") return std::nullopt;
  const std::string host = url->host().value_or("");
  bool allowed = false;
  if (isLocalhost(host)) {
    allowed = allowLocalhostRequest_;
    if (!allowed) consoleLog("Localhost fetch disallowed for " + url->absoluteString());
  } else {
    allowed = std::any_of(allowedInsecureSchemes_.begin(), allowedInsecureSchemes_.end(),
                          [&](const std::string& s) { return asciiEqualIgnoringCase(s, scheme); });
    if (!allowed) consoleLog("Fetch disallowed for " + url->absoluteString());
  }
  if (allowed) return std::nullopt;
  return NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorInsecureRequest, failingURLUserInfo(request_));
}

void ZSDK_ZTKSessionFetcher::chooseSession(BeginState& begin) {
  if (begin.session) return;
  if (begin.canShare && begin.service) begin.session = begin.service->session();
  if (begin.session) {
    // Stored with the request step's lock: nothing before it asks for the session.
    begin.storeSession = true;
    return;
  }
  createSession(begin);
}

void ZSDK_ZTKSessionFetcher::createSession(BeginState& begin) {
  const auto& self = begin.self;
  if (!begin.configuration) {
    Lock lock(mutex_);
    begin.configuration = sessionConfigurationLocked(begin);
    begin.configurationBlock = configurationBlock_;
    begin.delegateQueue = delegateQueue_;
  }
  URLSessionConfiguration& configuration = *begin.configuration;
  if (begin.configurationBlock) {
    begin.configurationBlock(self, configuration);
    assignLocked(configuration_, configuration);
  }
  std::shared_ptr<URLSessionDelegate> delegate;
  if (begin.canShare && begin.service) delegate = begin.service->sessionDelegate();
  if (!delegate) delegate = self;
  begin.session = URLSession::sessionWithConfiguration(configuration, delegate, begin.delegateQueue);
  begin.ownsSession = delegate == self;
  // Without a service nothing runs before the next step, whose lock stores the session.
  if (!begin.service && !begin.restoring) {
    begin.storeSession = true;
    return;
  }
  bool stopped = false;
  {
    Lock lock(mutex_);
    // A stop meanwhile (from the configuration block, or another thread) found no session of this
    // fetcher's own to invalidate: kept, it would hold the fetcher as its delegate for good.
    stopped = userStoppedFetching_ && begin.ownsSession;
    if (!stopped) {
      session_ = begin.session;
      shouldInvalidateSession_ = begin.ownsSession;
    }
  }
  if (stopped) {
    std::exchange(begin.session, nullptr)->finishTasksAndInvalidate();
    return;
  }
  if (begin.service) begin.service->fetcherDidCreateSession(self);
  if (delegate != self) takeSharedSession(begin);
}

// Another fetcher may have made the service's shared session meanwhile; the one made here is
// dropped before it runs a task.
void ZSDK_ZTKSessionFetcher::takeSharedSession(BeginState& begin) {
  auto shared = begin.service->session();
  if (!shared || shared == begin.session) return;
  begin.session = shared;
  assignLocked(session_, std::move(shared));
}

URLSessionConfiguration ZSDK_ZTKSessionFetcher::sessionConfigurationLocked(BeginState& begin) {
  if (!configuration_) {
    // Not the ephemeral one: its private cookie storage would be replaced at once by the fetcher's.
    URLSessionConfiguration& configuration = configuration_.emplace();
    if (sessionIdentifier_ || useBackgroundSession_) {
      if (!sessionIdentifier_) createSessionIdentifierWithMetadata(std::nullopt);
      {
        auto& state = classState();
        std::lock_guard classLock(state.mutex);
        state.fetchersBySessionIdentifier[*sessionIdentifier_] = weak_from_this();
      }
      configuration = URLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(*sessionIdentifier_);
      useBackgroundSession_ = true;
      canShareSession_ = false;
      begin.canShare = false;
    }
    configuration.tlsMinimumSupportedProtocol = SSLProtocol::kTLSProtocol12;
  }
  configuration_->httpCookieStorage = cookieStorage_;
  return *configuration_;
}

void ZSDK_ZTKSessionFetcher::resetDownloadStateLocked() {
  downloadedData_.reset();
  downloadedLength_ = 0;
  hasLoggedError_ = false;
  hasLogged_ = false;
}

bool ZSDK_ZTKSessionFetcher::admitToService(const BeginState& begin) {
  if (!begin.service || begin.service->fetcherShouldBeginFetching(shared_from_this())) return true;
  dropSharedSession(begin);
  return false;
}

// A fetch that waits lets go of a borrowed session: the one it gets when it begins may be another.
void ZSDK_ZTKSessionFetcher::dropSharedSession(const BeginState& begin) {
  // A session not stored yet has nothing to drop.
  if (!begin.canShare || begin.storeSession) return;
  Lock lock(mutex_);
  if (!shouldInvalidateSession_) session_.reset();
}

ZSDK_ZTKSessionFetcher::TaskStep ZSDK_ZTKSessionFetcher::prepareRequestBody(BeginState& begin, bool mayAuthorize) {
  const auto logging = ZSDK_ZTKSessionFetcher::logging();
  std::shared_ptr<InputStream> streamToLog;
  std::shared_ptr<URLSession> stoppedSession;
  TaskStep step = TaskStep::Pending;
  {
    Lock lock(mutex_);
    if (begin.storeSession) {
      begin.storeSession = false;
      // As in `createSession`: a stop meanwhile found no session to invalidate.
      if (userStoppedFetching_ && begin.ownsSession) {
        stoppedSession = begin.session;
      } else {
        session_ = begin.session;
        shouldInvalidateSession_ = begin.ownsSession;
      }
    }
    if (request_) {
      begin.effectiveMethod =
          request_->valueForHTTPHeaderField("X-HTTP-Method-Override").value_or(request_->httpMethod);
    }
    begin.isGET = begin.effectiveMethod.empty() || begin.effectiveMethod == "GET";
    begin.needsUploadTask = useUploadTask_ || bodyFileURL_ || bodyStreamProvider_;
    const bool hasRequestStream = request_ && request_->httpBodyStream;
    if (bodyData_ || bodyFileURL_ || bodyStreamProvider_ || hasRequestStream) {
      if (begin.isGET && request_) request_->httpMethod = "POST";
      if (bodyData_ && !begin.needsUploadTask && request_) request_->httpBody = bodyData_;
      if (hasRequestStream && logging) streamToLog = request_->httpBodyStream;
      begin.isGET = false;
    }
    // Neither a log nor an authorizer has a say before the task is made: it is made now.
    const bool mayNeedAuthorization =
        mayAuthorize && authorizer_ && !redirectedToOtherOrigin_ && begin.scheme != "data";
    if (!streamToLog && !mayNeedAuthorization) step = createTaskLocked(begin);
  }
  if (stoppedSession) stoppedSession->finishTasksAndInvalidate();
  if (streamToLog) {
    auto logged = logging->loggedInputStreamForInputStream(*this, streamToLog);
    Lock lock(mutex_);
    if (request_) request_->httpBodyStream = std::move(logged);
  }
  return step;
}

bool ZSDK_ZTKSessionFetcher::needsAuthorization(const BeginState& begin) {
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<URLRequest> request;
  {
    Lock lock(mutex_);
    if (redirectedToOtherOrigin_) return false;
    authorizer = authorizer_;
    request = request_;
  }
  return authorizer && begin.scheme != "data" && !authorizer->isAuthorizedRequest(request);
}

bool ZSDK_ZTKSessionFetcher::createTask(BeginState& begin) {
  TaskStep step = TaskStep::Pending;
  {
    Lock lock(mutex_);
    step = createTaskLocked(begin);
  }
  if (step == TaskStep::NoSession) failToBeginFetchWithError(std::nullopt);
  return step == TaskStep::Made;
}

ZSDK_ZTKSessionFetcher::TaskStep ZSDK_ZTKSessionFetcher::createTaskLocked(BeginState& begin) {
  if (isRetryEnabled_ && maxRetryInterval_ <= 0) {
    maxRetryInterval_ = (begin.isGET || begin.effectiveMethod == "HEAD") ? 60.0 : 600.0;
  }
  // A stop from another thread since the session was chosen has already cleaned up (and taken
  // an owned session with it).
  if (userStoppedFetching_) return TaskStep::Stopped;
  if (begin.session != session_) begin.session = session_;
  if (!begin.session) return TaskStep::NoSession;
  begin.task = makeTaskLocked(begin);
  sessionTask_ = begin.task;
  if (!testBlock_) testBlock_ = globalTestBlock();
  isUsingTestBlock_ = static_cast<bool>(testBlock_);
  begin.useTestBlock = isUsingTestBlock_;
  begin.backgroundTaskWanted = !useBackgroundSession_ && backgroundTaskIdentifier_ == UIBackgroundTaskInvalid;
  if (!initialRequestDate_) initialRequestDate_ = Date::now();
  return TaskStep::Made;
}

std::shared_ptr<URLSessionTask> ZSDK_ZTKSessionFetcher::makeTaskLocked(const BeginState& begin) {
  static const auto* none = new URLRequest();
  const URLRequest& taskRequest = request_ ? *request_ : *none;
  auto& session = *begin.session;
  std::shared_ptr<URLSessionTask> task;
  if (downloadResumeData_) {
    task = session.downloadTaskWithResumeData(*downloadResumeData_);
  } else if (!destinationFileURL_ || begin.scheme == "data") {
    if (!begin.needsUploadTask) {
      task = session.dataTaskWithRequest(taskRequest);
    } else if (bodyFileURL_) {
      task = session.uploadTaskWithRequest(taskRequest, *bodyFileURL_);
    } else if (!bodyStreamProvider_) {
      task = session.uploadTaskWithRequest(taskRequest, bodyData_.value_or(Data()));
    } else {
      task = session.uploadTaskWithStreamedRequest(taskRequest);
    }
    if (!accumulateDataBlock_) downloadedData_ = Data();
  } else {
    task = session.downloadTaskWithRequest(taskRequest);
  }
  if (taskDescription_) task->setTaskDescription(taskDescription_);
  return task;
}

void ZSDK_ZTKSessionFetcher::startTask(const BeginState& begin) {
  const auto& self = begin.self;
  UIBackgroundTaskIdentifier identifier = UIBackgroundTaskInvalid;
  if (begin.backgroundTaskWanted) {
    std::weak_ptr<ZSDK_ZTKSessionFetcher> weakSelf = self;
    identifier = UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weakSelf] {
      if (auto fetcher = weakSelf.lock()) fetcher->backgroundFetchExpired();
    });
  }
  bool stopNeeded = false;
  bool persisted = false;
  {
    Lock lock(mutex_);
    if (begin.backgroundTaskWanted) backgroundTaskIdentifier_ = identifier;
    stopNeeded = std::exchange(isStopNotificationNeeded_, false);
    persisted = sessionIdentifier_.has_value();
    // Nothing of the caller's runs before the started notification: the flag goes up at once.
    if (!stopNeeded && !persisted) isStopNotificationNeeded_ = true;
  }
  if (stopNeeded || persisted) {
    if (stopNeeded) postNotification(Notification::Stopped);
    addPersistedBackgroundSessionToDefaults();
    assignLocked(isStopNotificationNeeded_, true);
  }
  postNotification(Notification::Started);
  if (begin.service) begin.service->fetcherDidBeginFetching(self);
  if (begin.useTestBlock) {
    simulateFetchForTestBlock();
  } else {
    begin.task->resume();
  }
}

void ZSDK_ZTKSessionFetcher::authorizeRequest() {
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<URLRequest> request;
  {
    Lock lock(mutex_);
    authorizer = authorizer_;
    request = request_;
  }
  if (!authorizer) {
    beginFetchMayDelay(false, false);
    return;
  }
  auto self = shared_from_this();
  authorizer->authorizeRequest(request, self, [self](const auto&, const auto&, const std::optional<NSError>& error) {
    self->authorizerRequestFinishedWithError(error);
  });
}

void ZSDK_ZTKSessionFetcher::authorizerRequestFinishedWithError(const std::optional<NSError>& error) {
  {
    Lock lock(mutex_);
    // A stop while signing ends the fetch; a late answer must not start it again.
    if (userStoppedFetching_) return;
  }
  if (error) {
    failToBeginFetchWithError(error);
  } else {
    beginFetchMayDelay(false, false);
  }
}

void ZSDK_ZTKSessionFetcher::failToBeginFetchWithError(std::optional<NSError> error) {
  auto self = shared_from_this();
  const NSError failure = error ? *error : NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorBeginFailed);
  CompletionHandler handler;
  std::shared_ptr<DispatchQueue> queue;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  {
    Lock lock(mutex_);
    handler = completionHandler_;
    queue = callbackQueue_;
    service = service_;
  }
  invokeOnCallbackQueue(queue, false, [handler, failure] {
    if (handler) handler(std::nullopt, failure);
  });
  releaseCallbacks();
  if (service) service->fetcherDidStop(self);
  std::shared_ptr<URLSession> sessionToInvalidate;
  {
    Lock lock(mutex_);
    authorizer_.reset();
    // A session made for a fetch that never started would keep this fetcher as its delegate.
    if (!sessionTask_ && shouldInvalidateSession_) {
      sessionToInvalidate = std::move(session_);
      session_.reset();
      shouldInvalidateSession_ = false;
    }
  }
  if (sessionToInvalidate) sessionToInvalidate->finishTasksAndInvalidate();
}

// ---------------------------------------------------------------------------------------------
// Callbacks

void ZSDK_ZTKSessionFetcher::invokeOnCallbackQueue(const std::shared_ptr<DispatchQueue>& queue, bool afterUserStopped,
                                                   std::function<void()> block) {
  if (!queue) return;
  std::optional<DispatchGroup> group;
  {
    Lock lock(mutex_);
    group = callbackGroup_;
  }
  dispatchToCallbackQueue(shared_from_this(), *queue, std::move(*group), afterUserStopped, std::move(block));
}

void ZSDK_ZTKSessionFetcher::invokeOnCallbackQueueUnlessStopped(std::function<void()> block) {
  invokeOnCallbackQueueAfterUserStopped(false, std::move(block));
}

void ZSDK_ZTKSessionFetcher::invokeOnCallbackQueueAfterUserStopped(bool afterUserStopped, std::function<void()> block) {
  std::shared_ptr<DispatchQueue> queue;
  {
    Lock lock(mutex_);
    queue = callbackQueue_;
  }
  invokeOnCallbackQueue(queue, afterUserStopped, std::move(block));
}

struct ZSDK_ZTKSessionFetcher::ReleasedCallbacks {
  std::shared_ptr<DispatchQueue> callbackQueue;
  CompletionHandler completion;
  ConfigurationBlock configuration;
  DidReceiveResponseBlock didReceiveResponse;
  WillRedirectBlock willRedirect;
  SendProgressBlock sendProgress;
  ReceivedProgressBlock receivedProgress;
  DownloadProgressBlock downloadProgress;
  AccumulateDataBlock accumulate;
  WillCacheURLResponseBlock willCache;
  RetryBlock retry;
  TestBlock test;
  ResumeDataBlock resumeData;
};

void ZSDK_ZTKSessionFetcher::takeCallbacksLocked(ReleasedCallbacks& released) {
  auto& r = released;
  auto taken =
      std::tie(r.callbackQueue, r.completion, r.configuration, r.didReceiveResponse, r.willRedirect, r.sendProgress,
               r.receivedProgress, r.downloadProgress, r.accumulate, r.willCache, r.retry, r.test, r.resumeData);
  // Swapped with the empty ones: the fetcher's are left empty.
  std::tie(callbackQueue_, completionHandler_, configurationBlock_, didReceiveResponseBlock_, willRedirectBlock_,
           sendProgressBlock_, receivedProgressBlock_, downloadProgressBlock_, accumulateDataBlock_,
           willCacheURLResponseBlock_, retryBlock_, testBlock_, resumeDataBlock_)
      .swap(taken);
}

void ZSDK_ZTKSessionFetcher::releaseCallbacks() {
  ReleasedCallbacks released;
  Lock lock(mutex_);
  takeCallbacksLocked(released);
}

void ZSDK_ZTKSessionFetcher::postNotification(Notification notification) {
  // Made once: most fetches post two.
  static const auto* names = new std::array<std::string, 4>{
      kZTKSessionFetcherStartedNotification, kZTKSessionFetcherStoppedNotification,
      kZTKSessionFetcherRetryDelayStartedNotification, kZTKSessionFetcherRetryDelayStoppedNotification};
  NotificationCenter::defaultCenter()->postNotificationName((*names)[static_cast<std::size_t>(notification)],
                                                            shared_from_this());
}

void ZSDK_ZTKSessionFetcher::sendStopNotificationIfNeeded() {
  bool needed = false;
  {
    Lock lock(mutex_);
    needed = isStopNotificationNeeded_;
    isStopNotificationNeeded_ = false;
  }
  if (needed) postNotification(Notification::Stopped);
}

void ZSDK_ZTKSessionFetcher::logNowWithError(const std::optional<NSError>& error) {
  if (auto logging = ZSDK_ZTKSessionFetcher::logging()) {
    logging->logFetchWithError(*this, error);
    Lock lock(mutex_);
    hasLogged_ = true;
  }
}

// ---------------------------------------------------------------------------------------------
// Session delegate

bool ZSDK_ZTKSessionFetcher::recordTask(const std::shared_ptr<URLSessionTask>& task) {
  Lock lock(mutex_);
  return recordTaskLocked(task);
}

bool ZSDK_ZTKSessionFetcher::recordTaskLocked(const std::shared_ptr<URLSessionTask>& task) {
  const bool abandoned = std::any_of(abandonedTasks_.begin(), abandonedTasks_.end(), [&](const auto& weak) {
    return !weak.owner_before(task) && !task.owner_before(weak);
  });
  if (abandoned) return false;
  if (sessionTask_ && sessionTask_ != task) return false;
  if (!sessionTask_) sessionTask_ = task;
  if (!request_ && task) {
    if (auto original = task->originalRequest()) request_ = std::make_shared<URLRequest>(*original);
  }
  return true;
}

void ZSDK_ZTKSessionFetcher::forgetAbandonedTaskLocked(const std::shared_ptr<URLSessionTask>& task) {
  std::erase_if(abandonedTasks_, [&](const auto& weak) {
    return weak.expired() || (!weak.owner_before(task) && !task.owner_before(weak));
  });
}

void ZSDK_ZTKSessionFetcher::didBecomeInvalidWithError(const std::shared_ptr<URLSession>&,
                                                       const std::optional<NSError>&) {}

void ZSDK_ZTKSessionFetcher::didReceiveResponse(const std::shared_ptr<URLSession>&,
                                                const std::shared_ptr<URLSessionDataTask>& dataTask,
                                                const std::shared_ptr<const URLResponse>& response,
                                                ResponseCompletion completionHandler) {
  bool recorded = false;
  DidReceiveResponseBlock block;
  AccumulateDataBlock accumulate;
  {
    Lock lock(mutex_);
    recorded = recordTaskLocked(dataTask);
    if (recorded) block = didReceiveResponseBlock_;
    if (recorded && !block) accumulate = resetBufferLocked(URLSessionResponseDisposition::Allow);
  }
  if (!recorded) {
    completionHandler(URLSessionResponseDisposition::Cancel);
    return;
  }
  if (!block) {
    finishDisposition(std::move(accumulate), URLSessionResponseDisposition::Allow, completionHandler);
    return;
  }
  auto self = shared_from_this();
  invokeOnCallbackQueueAfterUserStopped(true, [self = std::move(self), block = std::move(block), response,
                                               completionHandler = std::move(completionHandler)] {
    block(response, [self, completionHandler](URLSessionResponseDisposition disposition) {
      self->applyDisposition(disposition, completionHandler);
    });
  });
}

// Without a response block every response is allowed; a task this fetcher no longer runs is
// asked so that it can be cancelled.
bool ZSDK_ZTKSessionFetcher::wantsResponseDisposition(const std::shared_ptr<URLSessionDataTask>& dataTask) {
  Lock lock(mutex_);
  return didReceiveResponseBlock_ != nullptr || dataTask != sessionTask_;
}

// The bytes buffered for an earlier response go; the accumulate block to tell of it, if any.
ZSDK_ZTKSessionFetcher::AccumulateDataBlock ZSDK_ZTKSessionFetcher::resetBufferLocked(
    URLSessionResponseDisposition disposition) {
  const std::int64_t buffered = downloadedLength_;
  if (downloadedData_) downloadedData_->bytes.clear();
  downloadedLength_ = 0;
  if (buffered >= 1 && disposition != URLSessionResponseDisposition::Cancel) return accumulateDataBlock_;
  return nullptr;
}

void ZSDK_ZTKSessionFetcher::finishDisposition(AccumulateDataBlock accumulate,
                                               URLSessionResponseDisposition disposition,
                                               const ResponseCompletion& completionHandler) {
  // The caller drops what it accumulated for an earlier response (a redirect or challenge hop).
  if (accumulate) {
    invokeOnCallbackQueueUnlessStopped([accumulate = std::move(accumulate)] { accumulate(std::nullopt); });
  }
  completionHandler(disposition);
}

void ZSDK_ZTKSessionFetcher::applyDisposition(URLSessionResponseDisposition disposition,
                                              const ResponseCompletion& completionHandler) {
  AccumulateDataBlock accumulate;
  {
    Lock lock(mutex_);
    accumulate = resetBufferLocked(disposition);
  }
  finishDisposition(std::move(accumulate), disposition, completionHandler);
}

void ZSDK_ZTKSessionFetcher::didReceiveData(const std::shared_ptr<URLSession>&,
                                            const std::shared_ptr<URLSessionDataTask>& dataTask, const Data& data) {
  if (data.empty()) return;
  AccumulateDataBlock accumulate;
  ReceivedProgressBlock progress;
  std::int64_t total = 0;
  {
    Lock lock(mutex_);
    if (!recordTaskLocked(dataTask)) return;
    if (accumulateDataBlock_) {
      downloadedLength_ += static_cast<std::int64_t>(data.size());
      accumulate = accumulateDataBlock_;
    } else if (!userStoppedFetching_) {
      if (!downloadedData_) downloadedData_ = Data();
      downloadedData_->append(data);
      downloadedLength_ = static_cast<std::int64_t>(downloadedData_->size());
      progress = receivedProgressBlock_;
      total = downloadedLength_;
    }
  }
  if (accumulate) {
    invokeOnCallbackQueueUnlessStopped([accumulate = std::move(accumulate), data] { accumulate(data); });
  } else if (progress) {
    const auto length = static_cast<std::int64_t>(data.size());
    invokeOnCallbackQueueUnlessStopped([progress = std::move(progress), length, total] { progress(length, total); });
  }
}

void ZSDK_ZTKSessionFetcher::didSendBodyData(const std::shared_ptr<URLSession>&,
                                             const std::shared_ptr<URLSessionTask>& task, std::int64_t bytesSent,
                                             std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {
  if (!recordTask(task)) return;
  SendProgressBlock progress;
  {
    Lock lock(mutex_);
    progress = sendProgressBlock_;
  }
  if (progress) {
    invokeOnCallbackQueueUnlessStopped([=] { progress(bytesSent, totalBytesSent, totalBytesExpectedToSend); });
  }
}

void ZSDK_ZTKSessionFetcher::willCacheResponse(const std::shared_ptr<URLSession>&,
                                               const std::shared_ptr<URLSessionDataTask>& dataTask,
                                               const CachedURLResponse& proposedResponse,
                                               CacheCompletion completionHandler) {
  if (!recordTask(dataTask)) {
    completionHandler(std::nullopt);
    return;
  }
  WillCacheURLResponseBlock block;
  {
    Lock lock(mutex_);
    block = willCacheURLResponseBlock_;
  }
  if (!block) {
    completionHandler(proposedResponse);
    return;
  }
  invokeOnCallbackQueueAfterUserStopped(
      true, [block, proposedResponse, completionHandler] { block(proposedResponse, completionHandler); });
}

void ZSDK_ZTKSessionFetcher::didCompleteWithError(const std::shared_ptr<URLSession>&,
                                                  const std::shared_ptr<URLSessionTask>& task,
                                                  const std::optional<NSError>& error) {
  int status = 0;
  std::optional<NSError> failure = error;
  bool retryAtResponseURL = false;
  {
    Lock lock(mutex_);
    if (!recordTaskLocked(task)) {
      forgetAbandonedTaskLocked(task);
      return;
    }
    status = statusCodeLocked();
    if (!failure) failure = downloadMoveError_;
    if (!failure && status >= 0 && status < 300) {
      if (task) bodyLength_ = task->countOfBytesSent();
    } else if (status == 403 && useBackgroundSession_) {
      // A background session that was redirected loses its authorization: fetch the final URL,
      // but only on the request's own host (the token never follows to another one).
      auto response = responseLocked();
      const auto responseURL = response ? std::optional<URL>(response->url()) : std::nullopt;
      if (responseURL && request_ && request_->url && request_->url != responseURL &&
          asciiEqualIgnoringCase(responseURL->host().value_or(""), request_->url->host().value_or("")) &&
          request_->valueForHTTPHeaderField("Authorization")) {
        request_->url = responseURL;
        retryAtResponseURL = true;
      }
    }
  }
  if (!failure && status >= 0 && status < 300) {
    finish(std::nullopt, false, status);
    return;
  }
  if (retryAtResponseURL) {
    retryFetch();
    return;
  }
  auto self = shared_from_this();
  shouldRetryNowForStatus(status, failure,
                          [self, error = failure](bool shouldRetry) { self->finishWithError(error, shouldRetry); });
}

// ---------------------------------------------------------------------------------------------
// Finish, stop, wait

void ZSDK_ZTKSessionFetcher::finishWithError(std::optional<NSError> error, bool shouldRetry) {
  finish(std::move(error), shouldRetry, std::nullopt);
}

void ZSDK_ZTKSessionFetcher::finish(std::optional<NSError> error, bool shouldRetry, std::optional<int> knownStatus) {
  auto self = shared_from_this();
  std::optional<Data> data;
  bool persisted = false;
  bool logFailure = false;
  bool deferLogging = false;
  bool stopNeeded = false;
  ResumeDataBlock resumeBlock;
  std::optional<Data> resumeData;
  CompletionHandler handler;
  std::shared_ptr<DispatchQueue> queue;
  std::optional<DispatchGroup> group;
  {
    Lock lock(mutex_);
    persisted = sessionIdentifier_.has_value();
    // A stop during the retry decision ends the fetch for good.
    if (userStoppedFetching_) shouldRetry = false;
    const int status = knownStatus ? *knownStatus : statusCodeLocked();
    deferLogging = deferResponseBodyLogging_;
    const bool failure = error || status < 0 || status > 299;
    if (failure) {
      if (!deferLogging && !hasLoggedError_) {
        logFailure = true;
        hasLoggedError_ = true;
      }
      if (shouldRetry) {
        // No callbacks now: the retry timer takes over. A resumed download's next attempt goes
        // on from where this one stopped, else starts over.
        if (downloadResumeData_) downloadResumeData_ = resumeDataOf(error);
      } else if (error) {
        resumeData = resumeDataOf(error);
        if (resumeData && resumeDataBlock_) resumeBlock = std::exchange(resumeDataBlock_, nullptr);
      } else {
        error = statusErrorLocked(status);
      }
      if (downloadedData_ && !downloadedData_->empty()) data = downloadedData_;
    } else {
      writeDownloadedDataToDestinationLocked();
      data = downloadedData_;
      error = downloadMoveError_;
    }
    handler = completionHandler_;
    queue = callbackQueue_;
    if (queue) group = callbackGroup_;
    // Nothing of the caller's runs before the stop notification unless a log or a retry comes
    // first: the flag is taken now.
    if (!logFailure && !shouldRetry && !persisted) stopNeeded = std::exchange(isStopNotificationNeeded_, false);
  }
  if (persisted) removePersistedBackgroundSessionFromDefaults();
  if (logFailure) logNowWithError(error);
  if (resumeBlock && queue) {
    dispatchToCallbackQueue(self, *queue, *group, true, [resumeBlock, resumeData] { resumeBlock(resumeData); });
  }
  if (shouldRetry) beginRetryTimer();
  if (logFailure || shouldRetry || persisted) {
    sendStopNotificationIfNeeded();
  } else if (stopNeeded) {
    postNotification(Notification::Stopped);
  }
  if (!shouldRetry) {
    if (queue) {
      dispatchToCallbackQueue(self, *queue, std::move(*group), false,
                              [handler = std::move(handler), data = std::move(data), error]() mutable {
                                // Run once: data and error move on to the caller.
                                if (handler) handler(std::move(data), std::move(error));
                              });
    }
    stopFetchReleasingCallbacks(shouldReleaseCallbacksUponCompletion());
  }
  if (deferLogging || !ZSDK_ZTKSessionFetcher::logging()) return;
  bool logged = false;
  {
    Lock lock(mutex_);
    logged = hasLogged_;
  }
  if (!logged) logNowWithError(error);
}

void ZSDK_ZTKSessionFetcher::stopFetching() {
  {
    Lock lock(mutex_);
    userStoppedFetching_.store(true, std::memory_order_release);
  }
  stopFetchReleasingCallbacks(true);
}

// What a stop takes from the fetcher under its lock, for the steps after it.
struct ZSDK_ZTKSessionFetcher::StopState {
  bool persisted = false;
  std::shared_ptr<Timer> timer;
  std::shared_ptr<URLSessionTask> taskToCancel;
  std::shared_ptr<URLSession> sessionToInvalidate;
  ResumeDataBlock resumeBlock;
  std::shared_ptr<DispatchQueue> queue;
  std::optional<DispatchGroup> group;
  // Without a retry timer or a stop notification to report, no caller code runs before the later
  // steps: what they need is taken under the first lock.
  bool quiet = false;
  bool stopNeeded = false;
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<URLRequest> request;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::optional<ReleasedCallbacks> released;
  UIBackgroundTaskIdentifier backgroundTask = UIBackgroundTaskInvalid;
};

void ZSDK_ZTKSessionFetcher::stopFetchReleasingCallbacks(bool shouldReleaseCallbacks) {
  auto self = shared_from_this();
  StopState stop;
  {
    Lock lock(mutex_);
    takeStopStateLocked(stop, shouldReleaseCallbacks);
  }
  if (stop.persisted) removePersistedBackgroundSessionFromDefaults();
  if (stop.timer) {
    stop.timer->invalidate();
    postNotification(Notification::RetryDelayStopped);
  }
  if (stop.taskToCancel) cancelStoppedTask(stop);
  if (stop.sessionToInvalidate) stop.sessionToInvalidate->finishTasksAndInvalidate();

  if (stop.stopNeeded) {
    postNotification(Notification::Stopped);
  } else if (!stop.quiet) {
    sendStopNotificationIfNeeded();
  }

  if (!stop.quiet) {
    Lock lock(mutex_);
    stop.authorizer = authorizer_;
    stop.request = request_;
    stop.service = service_;
  }
  if (stop.authorizer) stop.authorizer->stopAuthorizationForRequest(stop.request);
  if (stop.released) {
    stop.released.reset();
  } else if (shouldReleaseCallbacks) {
    releaseCallbacks();
    Lock lock(mutex_);
    authorizer_.reset();
  }
  if (stop.service) stop.service->fetcherDidStop(self);
  if (!stop.quiet) {
    endBackgroundTask();
  } else if (stop.backgroundTask != UIBackgroundTaskInvalid) {
    UIApplication::sharedApplication()->endBackgroundTask(stop.backgroundTask);
  }
}

void ZSDK_ZTKSessionFetcher::takeStopStateLocked(StopState& stop, bool shouldReleaseCallbacks) {
  stop.persisted = sessionIdentifier_.has_value();
  stop.timer = std::exchange(retryTimer_, nullptr);
  auto task = std::exchange(sessionTask_, nullptr);
  if (task && !isUsingTestBlock_) {
    if (auto response = task->response()) response_ = std::move(response);
  }
  if (task && task->state() != URLSessionTaskState::Completed) {
    stop.taskToCancel = task;
    abandonedTasks_.push_back(task);
    if (resumeDataBlock_ && std::dynamic_pointer_cast<URLSessionDownloadTask>(task)) {
      stop.resumeBlock = std::exchange(resumeDataBlock_, nullptr);
      stop.queue = callbackQueue_;
      stop.group = callbackGroup_;
    }
  }
  // An owned session goes now, even while a cancelled task has yet to report: the session keeps
  // this fetcher as its delegate until that late completion, so a fetcher still holding the
  // session would leak with it whenever the completion is never delivered (a delegate queue
  // that is dropped or no longer turning). The completion still reaches this fetcher, which
  // ignores it as abandoned.
  // Not while the system waits for this background session's events to be handled.
  if (shouldInvalidateSession_ && session_ &&
      !(sessionIdentifier_ && systemCompletionHandlerForSessionIdentifier(*sessionIdentifier_))) {
    stop.sessionToInvalidate = std::exchange(session_, nullptr);
    shouldInvalidateSession_ = false;
  }
  if (!stop.timer && !stop.persisted) {
    stop.stopNeeded = std::exchange(isStopNotificationNeeded_, false);
    stop.quiet = !stop.stopNeeded;
  }
  if (!stop.quiet) return;
  stop.authorizer = authorizer_;
  if (stop.authorizer) stop.request = request_;  // only the authorizer is told of it
  stop.service = service_;
  if (shouldReleaseCallbacks && !stop.authorizer) {
    stop.released.emplace();
    takeCallbacksLocked(*stop.released);
  }
  stop.backgroundTask = std::exchange(backgroundTaskIdentifier_, UIBackgroundTaskInvalid);
}

void ZSDK_ZTKSessionFetcher::cancelStoppedTask(StopState& stop) {
  if (!stop.resumeBlock) {
    stop.taskToCancel->cancel();
    return;
  }
  // The resume data reaches the caller even after a stop.
  stop.group->enter();
  std::static_pointer_cast<URLSessionDownloadTask>(stop.taskToCancel)
      ->cancelByProducingResumeData([resumeBlock = stop.resumeBlock, queue = stop.queue,
                                     group = *stop.group](std::optional<Data> resumeData) mutable {
        if (!queue) {
          group.leave();
          return;
        }
        queue->async([resumeBlock, resumeData, group] {
          GroupLeaver leaver{group};
          resumeBlock(resumeData);
        });
      });
}

void ZSDK_ZTKSessionFetcher::backgroundFetchExpired() {
  CompletionHandler handler;
  std::shared_ptr<DispatchQueue> queue;
  {
    Lock lock(mutex_);
    handler = completionHandler_;
    queue = callbackQueue_;
  }
  invokeOnCallbackQueue(queue, false, [handler] {
    if (handler)
      handler(std::nullopt, NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorBackgroundTimeExpired));
  });
  stopFetchReleasingCallbacks(false);
  releaseCallbacks();
  Lock lock(mutex_);
  authorizer_.reset();
}

void ZSDK_ZTKSessionFetcher::endBackgroundTask() {
  UIBackgroundTaskIdentifier identifier = UIBackgroundTaskInvalid;
  {
    Lock lock(mutex_);
    identifier = std::exchange(backgroundTaskIdentifier_, UIBackgroundTaskInvalid);
  }
  if (identifier != UIBackgroundTaskInvalid) UIApplication::sharedApplication()->endBackgroundTask(identifier);
}

bool ZSDK_ZTKSessionFetcher::waitForCompletionWithTimeout(TimeInterval timeoutInSeconds) {
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline =
      SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                               std::chrono::duration<double>(std::clamp(timeoutInSeconds, 0.0, 365.0 * 86400)));
  for (;;) {
    bool done = false;
    DispatchGroup group;
    {
      Lock lock(mutex_);
      done = (!sessionTask_ || sessionTask_->state() == URLSessionTaskState::Completed) && !completionHandler_ &&
             !retryTimer_;
      group = callbackGroup_;
    }
    if (done && group.wait(0.1)) return true;
    if (SteadyClock::now() >= deadline) return false;
    // On the main thread the main run loop must keep turning: delegate and main-queue callbacks
    // arrive through it.
    if (RunLoop::isMainThread()) {
      RunLoop::main().runOnce(0.001);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Result

std::shared_ptr<const URLResponse> ZSDK_ZTKSessionFetcher::responseLocked() const {
  if (sessionTask_) {
    if (auto response = sessionTask_->response()) return response;
  }
  return response_;
}

std::shared_ptr<const URLResponse> ZSDK_ZTKSessionFetcher::response() const {
  Lock lock(mutex_);
  return responseLocked();
}

int ZSDK_ZTKSessionFetcher::statusCode() const {
  Lock lock(mutex_);
  return statusCodeLocked();
}

int ZSDK_ZTKSessionFetcher::statusCodeLocked() const {
  const auto response = responseLocked();
  const auto* http = dynamic_cast<const HTTPURLResponse*>(response.get());
  return http ? http->statusCode() : 0;
}

std::optional<HTTPHeaderFields> ZSDK_ZTKSessionFetcher::responseHeaders() const {
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response());
  if (!http) return std::nullopt;
  return http->allHeaderFields();
}

bool ZSDK_ZTKSessionFetcher::isFetching() {
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::shared_ptr<URLRequest> request;
  {
    Lock lock(mutex_);
    if (sessionTask_ || retryTimer_) return true;
    authorizer = authorizer_;
    service = service_;
    request = request_;
  }
  return heldByCollaborators(authorizer, service, request);
}

bool ZSDK_ZTKSessionFetcher::heldByCollaborators(const std::shared_ptr<ZTKFetcherAuthorizationProtocol>& authorizer,
                                                 const std::shared_ptr<ZTKSessionFetcherServiceProtocol>& service,
                                                 const std::shared_ptr<URLRequest>& request) {
  if (authorizer && authorizer->isAuthorizingRequest(request)) return true;
  return service && service->isDelayingFetcher(shared_from_this());
}

std::int64_t ZSDK_ZTKSessionFetcher::bodyLength() {
  Lock lock(mutex_);
  if (bodyLength_ == NSURLSessionTransferSizeUnknown) {
    if (bodyData_) {
      bodyLength_ = static_cast<std::int64_t>(bodyData_->size());
    } else if (bodyFileURL_) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(bodyFileURL_->path(), ec);
      if (!ec) bodyLength_ = static_cast<std::int64_t>(size);
    }
  }
  return bodyLength_;
}

// ---------------------------------------------------------------------------------------------
// Cookies

std::shared_ptr<ZSDK_ZTKSessionCookieStorage> ZSDK_ZTKSessionFetcher::staticCookieStorage() {
  static auto* storage =
      new std::shared_ptr<ZSDK_ZTKSessionCookieStorage>(std::make_shared<ZSDK_ZTKSessionCookieStorage>());
  return *storage;
}

void ZSDK_ZTKSessionFetcher::setCookieStorageMethod(long method) {
  switch (method) {
    case 1: break;
    case 2: setCookieStorage(HTTPCookieStorage::sharedHTTPCookieStorage()); break;
    case 3: setCookieStorage(std::make_shared<ZSDK_ZTKSessionCookieStorage>()); break;
    default: setCookieStorage(nullptr); break;
  }
}

// ---------------------------------------------------------------------------------------------
// Process-wide collaborators

void ZSDK_ZTKSessionFetcher::setGlobalTestBlock(TestBlock block) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.globalTestBlock = std::move(block);
  state.hasGlobalTestBlock.store(static_cast<bool>(state.globalTestBlock), std::memory_order_release);
}

void ZSDK_ZTKSessionFetcher::setLogging(std::shared_ptr<ZTKSessionFetcherLogging> logging) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.logging = std::move(logging);
  state.hasLogging.store(state.logging != nullptr, std::memory_order_release);
}

std::shared_ptr<ZTKSessionFetcherLogging> ZSDK_ZTKSessionFetcher::logging() {
  auto& state = classState();
  if (!state.hasLogging.load(std::memory_order_acquire)) return nullptr;
  std::lock_guard lock(state.mutex);
  return state.logging;
}
