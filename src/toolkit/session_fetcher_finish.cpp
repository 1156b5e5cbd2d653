#include <array>
#include <chrono>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"
#include "toolkit/session_fetcher.h"
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
