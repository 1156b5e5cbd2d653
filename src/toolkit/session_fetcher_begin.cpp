#include <algorithm>
#include <utility>

#include "platform/foundation/ascii.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

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
      if (!authorizer_ && (!service_ || !service_->mayBeDelayingFetcher(*this))) {
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
    const auto& schemes = sharedInsecureSchemes_ ? *sharedInsecureSchemes_ : allowedInsecureSchemes_;
    allowed = std::any_of(schemes.begin(), schemes.end(),
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
  responseTooLarge_ = false;
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
  // The engine stops a body held in memory at the cap, rather than unpacking and handing over all
  // of it for the fetcher to drop; the session may be shared, so the cap goes on the task.
  if (maximumResponseBodySize_ && std::dynamic_pointer_cast<URLSessionDataTask>(task))
    task->setMaximumResponseBodySize(maximumResponseBodySize_);
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
