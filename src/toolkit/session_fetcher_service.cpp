#include "toolkit/session_fetcher_service.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>
#include <typeinfo>

#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"

namespace {

using Fetcher = ZSDK_ZTKSessionFetcher;

bool contains(const std::vector<std::shared_ptr<Fetcher>>& list, const std::shared_ptr<Fetcher>& fetcher) {
  return std::find(list.begin(), list.end(), fetcher) != list.end();
}

void erase(std::vector<std::shared_ptr<Fetcher>>& list, const std::shared_ptr<Fetcher>& fetcher) {
  list.erase(std::remove(list.begin(), list.end(), fetcher), list.end());
}

std::size_t countAll(const ZSDK_ZTKSessionFetcherService::FetchersByHost& byHost) {
  std::size_t count = 0;
  for (const auto& [host, list] : byHost) count += list.size();
  return count;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dispatcher

ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::ZSDK_ZTKSessionFetcherSessionDelegateDispatcher(
    std::weak_ptr<ZSDK_ZTKSessionFetcherService> parentService, TimeInterval discardInterval)
    : parentService_(std::move(parentService)), discardInterval_(discardInterval) {}

ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::~ZSDK_ZTKSessionFetcherSessionDelegateDispatcher() {
  if (discardTimer_) discardTimer_->invalidate();
}

std::string ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::description() const {
  std::lock_guard lock(mutex_);
  const std::string sessionText =
      session_ ? fmt::format("{}", static_cast<const void*>(session_.get())) : "<no session>";
  std::string tasks = "<no tasks>";
  if (!taskToFetcherMap_.empty()) {
    tasks = "{";
    for (const auto& [task, fetcher] : taskToFetcherMap_) {
      tasks += fmt::format(" {} = {};", static_cast<const void*>(task.get()), fetcher->description());
    }
    tasks += " }";
  }
  return fmt::format("ZSDK_ZTKSessionFetcherSessionDelegateDispatcher {} {} {}", static_cast<const void*>(this),
                     sessionText, tasks);
}

std::shared_ptr<URLSession> ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::session() const {
  std::lock_guard lock(mutex_);
  return session_;
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::setSession(std::shared_ptr<URLSession> session) {
  std::lock_guard lock(mutex_);
  session_ = std::move(session);
}

TimeInterval ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::discardInterval() const {
  std::lock_guard lock(mutex_);
  return discardInterval_;
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::setDiscardInterval(TimeInterval interval) {
  std::lock_guard lock(mutex_);
  discardInterval_ = interval;
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::setFetcherForTask(const std::shared_ptr<Fetcher>& fetcher,
                                                                        const std::shared_ptr<URLSessionTask>& task) {
  std::lock_guard lock(mutex_);
  if (!fetcher || !task) return;
  // A pending discard timer stays: rescheduling it for every fetch costs more than the fetch, and
  // it checks for itself that the session has been idle long enough.
  const auto found = taskToFetcherMap_.find(task);
  if (found != taskToFetcherMap_.end()) {
    found->second = fetcher;
  } else if (spareEntry_) {
    spareEntry_.key() = task;
    spareEntry_.mapped() = fetcher;
    taskToFetcherMap_.insert(std::move(spareEntry_));
  } else {
    taskToFetcherMap_.emplace(task, fetcher);
  }
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::removeFetcher(const std::shared_ptr<Fetcher>& fetcher) {
  bool idle = false;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(taskToFetcherMap_, [&](const auto& entry) { return entry.second == fetcher; });
    idle = taskToFetcherMap_.empty();
    if (idle) idleSince_ = Date::now();
    if (idle && discardTimer_) return;
  }
  if (idle) startDiscardTimer();
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::fetcherForTask(
    const std::shared_ptr<URLSessionTask>& task) const {
  std::lock_guard lock(mutex_);
  const auto it = taskToFetcherMap_.find(task);
  return it == taskToFetcherMap_.end() ? nullptr : it->second;
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::removeTaskFromMap(const std::shared_ptr<URLSessionTask>& task) {
  std::lock_guard lock(mutex_);
  taskToFetcherMap_.erase(task);
}

std::size_t ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::numberOfMappedTasks() const {
  std::lock_guard lock(mutex_);
  return taskToFetcherMap_.size();
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::startDiscardTimer() {
  std::lock_guard lock(mutex_);
  destroyDiscardTimerLocked();
  idleSince_ = Date::now();
  scheduleDiscardTimerLocked(discardInterval_);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::scheduleDiscardTimerLocked(TimeInterval interval) {
  if (interval <= 0) return;
  std::weak_ptr weak = weak_from_this();
  discardTimer_ = RunLoop::main().scheduledTimer(interval, false, [weak](Timer&) {
    if (auto self = weak.lock()) self->discardTimerFired();
  });
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::destroyDiscardTimer() {
  std::lock_guard lock(mutex_);
  destroyDiscardTimerLocked();
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::destroyDiscardTimerLocked() {
  if (discardTimer_) discardTimer_->invalidate();
  discardTimer_.reset();
}

bool ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::hasDiscardTimer() const {
  std::lock_guard lock(mutex_);
  return discardTimer_ != nullptr;
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::discardTimerFired() {
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service;
  {
    std::lock_guard lock(mutex_);
    discardTimer_.reset();
    if (!taskToFetcherMap_.empty()) return;  // the next stop that leaves it idle starts a new one
    const TimeInterval idle = Date::now().timeIntervalSinceReferenceDate - idleSince_.timeIntervalSinceReferenceDate;
    if (idle < discardInterval_) {
      scheduleDiscardTimerLocked(discardInterval_ - idle);
      return;
    }
    service = parentService_.lock();
  }
  if (service) service->resetSession();
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::abandon() {
  std::shared_ptr<URLSession> session;
  {
    std::lock_guard lock(mutex_);
    destroyDiscardTimerLocked();
    session = std::move(session_);
    session_.reset();
  }
  if (session) session->finishTasksAndInvalidate();
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didBecomeInvalidWithError(
    const std::shared_ptr<URLSession>& session, const std::optional<NSError>&) {
  TaskMap tasks;
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service;
  {
    std::lock_guard lock(mutex_);
    if (session_ == session) session_.reset();
    tasks = taskToFetcherMap_;
    service = parentService_.lock();
  }
  for (const auto& [task, fetcher] : tasks) {
    if (fetcher->session() == session) didCompleteWithError(session, task, URLError(NSURLErrorCancelled));
  }
  // The session is not a value; observers compare the service's session with their own.
  NotificationCenter::defaultCenter()->postNotificationName(kZTKSessionFetcherServiceSessionBecameInvalidNotification,
                                                            service);
}

// Callbacks of a task no fetcher owns get the default answer, so that the task does not hang.
void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::willPerformHTTPRedirection(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
    const std::shared_ptr<const HTTPURLResponse>& redirectResponse, const URLRequest& newRequest,
    RedirectCompletion completionHandler) {
  if (auto fetcher = fetcherForTask(task)) {
    fetcher->willPerformHTTPRedirection(session, task, redirectResponse, newRequest, std::move(completionHandler));
  } else {
    URLSessionDelegate::willPerformHTTPRedirection(session, task, redirectResponse, newRequest,
                                                   std::move(completionHandler));
  }
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didReceiveChallenge(const std::shared_ptr<URLSession>& session,
                                                                          const std::shared_ptr<URLSessionTask>& task,
                                                                          const URLAuthenticationChallenge& challenge,
                                                                          ChallengeCompletion completionHandler) {
  if (auto fetcher = fetcherForTask(task)) {
    fetcher->didReceiveChallenge(session, task, challenge, std::move(completionHandler));
  } else {
    URLSessionDelegate::didReceiveChallenge(session, task, challenge, std::move(completionHandler));
  }
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::needNewBodyStream(const std::shared_ptr<URLSession>& session,
                                                                        const std::shared_ptr<URLSessionTask>& task,
                                                                        BodyStreamCompletion completionHandler) {
  if (auto fetcher = fetcherForTask(task)) {
    fetcher->needNewBodyStream(session, task, std::move(completionHandler));
  } else {
    URLSessionDelegate::needNewBodyStream(session, task, std::move(completionHandler));
  }
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didSendBodyData(const std::shared_ptr<URLSession>& session,
                                                                      const std::shared_ptr<URLSessionTask>& task,
                                                                      std::int64_t bytesSent,
                                                                      std::int64_t totalBytesSent,
                                                                      std::int64_t totalBytesExpectedToSend) {
  if (auto fetcher = fetcherForTask(task))
    fetcher->didSendBodyData(session, task, bytesSent, totalBytesSent, totalBytesExpectedToSend);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didCompleteWithError(const std::shared_ptr<URLSession>& session,
                                                                           const std::shared_ptr<URLSessionTask>& task,
                                                                           const std::optional<NSError>& error) {
  std::shared_ptr<Fetcher> fetcher;
  {
    std::lock_guard lock(mutex_);
    if (auto node = taskToFetcherMap_.extract(task)) {
      fetcher = std::move(node.mapped());
      // Kept empty for the next task: a node per fetch is not made and freed.
      node.key().reset();
      spareEntry_ = std::move(node);
    }
  }
  if (fetcher) fetcher->didCompleteWithError(session, task, error);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didReceiveResponse(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDataTask>& dataTask,
    const std::shared_ptr<const URLResponse>& response, ResponseCompletion completionHandler) {
  if (auto fetcher = fetcherForTask(dataTask)) {
    fetcher->didReceiveResponse(session, dataTask, response, std::move(completionHandler));
  } else {
    URLSessionDelegate::didReceiveResponse(session, dataTask, response, std::move(completionHandler));
  }
}

bool ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::wantsResponseDisposition(
    const std::shared_ptr<URLSessionDataTask>& dataTask) {
  auto fetcher = fetcherForTask(dataTask);
  return fetcher && fetcher->wantsResponseDisposition(dataTask);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didBecomeDownloadTask(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDataTask>& dataTask,
    const std::shared_ptr<URLSessionDownloadTask>& downloadTask) {
  auto fetcher = fetcherForTask(dataTask);
  removeTaskFromMap(dataTask);
  if (!fetcher) return;
  setFetcherForTask(fetcher, downloadTask);
  fetcher->didBecomeDownloadTask(session, dataTask, downloadTask);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didReceiveData(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDataTask>& dataTask, const Data& data) {
  if (auto fetcher = fetcherForTask(dataTask)) fetcher->didReceiveData(session, dataTask, data);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::willCacheResponse(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDataTask>& dataTask,
    const CachedURLResponse& proposedResponse, CacheCompletion completionHandler) {
  if (auto fetcher = fetcherForTask(dataTask)) {
    fetcher->willCacheResponse(session, dataTask, proposedResponse, std::move(completionHandler));
  } else {
    URLSessionDelegate::willCacheResponse(session, dataTask, proposedResponse, std::move(completionHandler));
  }
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didFinishDownloadingToURL(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
    const URL& location) {
  if (auto fetcher = fetcherForTask(downloadTask)) fetcher->didFinishDownloadingToURL(session, downloadTask, location);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didWriteData(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
    std::int64_t bytesWritten, std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {
  if (auto fetcher = fetcherForTask(downloadTask))
    fetcher->didWriteData(session, downloadTask, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}

void ZSDK_ZTKSessionFetcherSessionDelegateDispatcher::didResumeAtOffset(
    const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
    std::int64_t fileOffset, std::int64_t expectedTotalBytes) {
  if (auto fetcher = fetcherForTask(downloadTask))
    fetcher->didResumeAtOffset(session, downloadTask, fileOffset, expectedTotalBytes);
}

// ---------------------------------------------------------------------------------------------
// Service: creation

std::shared_ptr<ZSDK_ZTKSessionFetcherService> ZSDK_ZTKSessionFetcherService::create() {
  auto service = std::make_shared<ZSDK_ZTKSessionFetcherService>();
  service->delegateDispatcher_ = std::make_shared<Dispatcher>(service, service->unusedSessionTimeout_);
  return service;
}

std::shared_ptr<ZSDK_ZTKSessionFetcherService> ZSDK_ZTKSessionFetcherService::mockFetcherServiceWithFakedData(
    std::optional<Data> fakedData, std::optional<NSError> fakedError) {
  auto service = create();
  service->allowedInsecureSchemes = {"http"};
  auto response = std::make_shared<const HTTPURLResponse>(*URL::URLWithString(kZTKSessionFetcherMockURL),
                                                          fakedError ? 500 : 200, "HTTP/1.1", HTTPHeaderFields{});
  service->testBlock = [response, fakedData, fakedError](const std::shared_ptr<Fetcher>&,
                                                         const Fetcher::TestResponse& testResponse) {
    testResponse(response, fakedData, fakedError);
  };
  return service;
}

ZSDK_ZTKSessionFetcherService::ZSDK_ZTKSessionFetcherService() = default;

ZSDK_ZTKSessionFetcherService::~ZSDK_ZTKSessionFetcherService() {
  detachAuthorizer(authorizer_);
  if (delegateDispatcher_) delegateDispatcher_->abandon();
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcherService::fetcherWithRequest(
    const URLRequest& request, const FetcherClass& fetcherClass) {
  auto fetcher = fetcherClass ? fetcherClass(request, configuration) : Fetcher::initWithRequest(request, configuration);
  ZTKSessionFetcherServiceSetUp setUp;
  setUp.service = shared_from_this();
  {
    Lock lock(mutex_);
    setUp.callbackQueue = callbackQueue_;
    setUp.authorizer = authorizer_;
    setUp.cookieStorageMethod = cookieStorageMethod_;
    // Made again only when the setting changed since the last fetcher.
    if (allowedInsecureSchemes.empty()) {
      sharedInsecureSchemes_.reset();
    } else if (!sharedInsecureSchemes_ || *sharedInsecureSchemes_ != allowedInsecureSchemes) {
      sharedInsecureSchemes_ = std::make_shared<const std::vector<std::string>>(allowedInsecureSchemes);
    }
    setUp.allowedInsecureSchemes = sharedInsecureSchemes_;
  }
  fetcher->setUpForService(*this, request, std::move(setUp));
  return fetcher;
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcherService::fetcherWithRequest(const URLRequest& request) {
  return fetcherWithRequest(request, nullptr);
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcherService::fetcherWithURL(const URL& url) {
  return fetcherWithRequest(URLRequest::requestWithURL(url));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcherService::fetcherWithURLString(
    std::string_view urlString) {
  const auto url = URL::URLWithString(urlString);
  return url ? fetcherWithURL(*url) : fetcherWithRequest(URLRequest{});
}

// ---------------------------------------------------------------------------------------------
// Service: admission and promotion

std::size_t ZSDK_ZTKSessionFetcherService::numberOfNonBackgroundSessionFetchers(const FetcherList& fetchers) {
  // The field itself, not its getter: counted at every admission and promotion.
  return static_cast<std::size_t>(
      std::count_if(fetchers.begin(), fetchers.end(), [](const auto& f) { return !f->useBackgroundSession_.load(); }));
}

// A host's running entry comes and goes with every fetch of a service used one fetch at a time:
// the last one dropped is kept (with its list's room) for the next.
ZSDK_ZTKSessionFetcherService::FetcherList& ZSDK_ZTKSessionFetcherService::runningListLocked(const std::string& host) {
  const auto found = runningFetchersByHost_.find(host);
  if (found != runningFetchersByHost_.end()) return found->second;
  if (!spareRunningEntry_) return runningFetchersByHost_[host];
  spareRunningEntry_.key() = host;
  return runningFetchersByHost_.insert(std::move(spareRunningEntry_)).position->second;
}

void ZSDK_ZTKSessionFetcherService::dropRunningEntryLocked(FetchersByHost::iterator entry) {
  spareRunningEntry_ = runningFetchersByHost_.extract(entry);
}

bool ZSDK_ZTKSessionFetcherService::fetcherShouldBeginFetching(const std::shared_ptr<Fetcher>& fetcher) {
  // The host is recorded as the service host with the look-up; a fetcher already running was
  // recorded under it when admitted.
  const auto host = fetcher->requestHostKey(true);
  if (!host) return true;
  Lock lock(mutex_);
  auto& running = runningListLocked(*host);
  if (contains(running, fetcher)) return true;
  if (!fetcher->useBackgroundSession() && maxRunningFetchersPerHost != 0 &&
      numberOfNonBackgroundSessionFetchers(running) >= maxRunningFetchersPerHost) {
    if (running.empty()) dropRunningEntryLocked(runningFetchersByHost_.find(*host));
    delayedFetchersByHost_[*host].push_back(fetcher);
    fetcher->waitingEntries_.fetch_add(1, std::memory_order_release);
    return false;
  }
  running.push_back(fetcher);
  return true;
}

void ZSDK_ZTKSessionFetcherService::noteWaiting(const FetcherList& list, int change) {
  for (const auto& fetcher : list) fetcher->waitingEntries_.fetch_add(change, std::memory_order_release);
}

bool ZSDK_ZTKSessionFetcherService::mayBeDelayingFetcher(const Fetcher& fetcher) {
  return fetcher.waitingEntries_.load(std::memory_order_acquire) > 0;
}

bool ZSDK_ZTKSessionFetcherService::isDelayingFetcher(const std::shared_ptr<Fetcher>& fetcher) {
  Lock lock(mutex_);
  if (!mayBeDelayingFetcher(*fetcher)) return false;
  // The fetcher is looked for first, its host only checked when it is found.
  for (const auto& [host, list] : delayedFetchersByHost_) {
    if (contains(list, fetcher) && fetcher->requestHostKey(false) == host) return true;
  }
  return false;
}

std::shared_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher>
ZSDK_ZTKSessionFetcherService::delegateDispatcherForFetcher(const std::shared_ptr<Fetcher>& fetcher) {
  const auto session = fetcher->session();
  if (!session) return nullptr;
  auto delegate = session->delegate();
  if (!delegate) return nullptr;
  // Mostly a dispatcher itself: no cast through the class hierarchy for it.
  const URLSessionDelegate& any = *delegate;
  if (typeid(any) == typeid(Dispatcher)) return std::static_pointer_cast<Dispatcher>(delegate);
  return std::dynamic_pointer_cast<Dispatcher>(delegate);
}

void ZSDK_ZTKSessionFetcherService::fetcherDidCreateSession(const std::shared_ptr<Fetcher>& fetcher) {
  if (!fetcher->canShareSession()) return;
  auto dispatcher = delegateDispatcherForFetcher(fetcher);
  Lock lock(mutex_);
  // Fetchers begun together on other threads may each have made one: the first reported is the
  // shared one, and the others take it instead of their own (see `session`).
  if (dispatcher && dispatcher == delegateDispatcher_ && !dispatcher->session())
    dispatcher->setSession(fetcher->session());
}

void ZSDK_ZTKSessionFetcherService::fetcherDidBeginFetching(const std::shared_ptr<Fetcher>& fetcher) {
  // The dispatcher that is the task's session delegate routes its callbacks, whether or not its
  // session is still the one handed out.
  if (auto dispatcher = delegateDispatcherForFetcher(fetcher))
    dispatcher->setFetcherForTask(fetcher, fetcher->taskMappedBy(dispatcher));
}

void ZSDK_ZTKSessionFetcherService::fetcherDidStop(const std::shared_ptr<Fetcher>& fetcher) {
  // Cleared at once: nothing below reads it, and the fetchers started at the end are others.
  std::shared_ptr<Dispatcher> dispatcher;
  const auto host = fetcher->takeServiceHost(dispatcher);
  if (!host) return;
  // The dispatcher that mapped the task is its session's delegate: it need not be looked up again.
  if (!dispatcher) dispatcher = delegateDispatcherForFetcher(fetcher);
  if (dispatcher) dispatcher->removeFetcher(fetcher);
  // Mostly one at a time: the first is kept apart, so that no list is made for it.
  std::shared_ptr<Fetcher> startFirst;
  FetcherList startNext;
  {
    Lock lock(mutex_);
    if (stoppedFetchersToWaitFor_) stoppedFetchersToWaitFor_->push_back(fetcher);
    // Found, not made: a host without waiting fetchers gets no entry to drop again.
    auto runningEntry = runningFetchersByHost_.find(*host);
    if (runningEntry != runningFetchersByHost_.end()) {
      erase(runningEntry->second, fetcher);
      if (runningEntry->second.empty()) dropRunningEntryLocked(runningEntry);
    }
    const auto delayedEntry = delayedFetchersByHost_.find(*host);
    auto* delayed = delayedEntry == delayedFetchersByHost_.end() ? nullptr : &delayedEntry->second;
    // A fetcher that waits nowhere is not looked for among those that wait.
    if (delayed && mayBeDelayingFetcher(*fetcher)) {
      const auto before = delayed->size();
      erase(*delayed, fetcher);
      fetcher->waitingEntries_.fetch_sub(static_cast<std::int64_t>(before - delayed->size()));
    }
    FetcherList* running = nullptr;
    while (delayed && !delayed->empty()) {
      if (!running) running = &runningListLocked(*host);
      if (maxRunningFetchersPerHost != 0 && numberOfNonBackgroundSessionFetchers(*running) >= maxRunningFetchersPerHost)
        break;
      auto pick = delayed->begin();
      auto pickPriority = (*pick)->servicePriority_.load();
      for (auto it = std::next(delayed->begin()); it != delayed->end(); ++it) {
        // Only a strictly lower priority wins: ties go to the one that waited longest.
        const auto priority = (*it)->servicePriority_.load();
        if (priority < pickPriority) {
          pick = it;
          pickPriority = priority;
        }
      }
      running->push_back(*pick);
      (*pick)->waitingEntries_.fetch_sub(1, std::memory_order_release);
      if (startFirst) {
        startNext.push_back(std::move(*pick));
      } else {
        startFirst = std::move(*pick);
      }
      delayed->erase(pick);
    }
    if (running && running->empty()) dropRunningEntryLocked(runningFetchersByHost_.find(*host));
    if (delayed && delayed->empty()) delayedFetchersByHost_.erase(delayedEntry);
  }
  // Started outside the lock: a start may sign its request, and an authorizer refreshing its
  // token on another thread may be waiting for this service's lock meanwhile.
  if (startFirst) startFetcher(startFirst);
  for (const auto& next : startNext) startFetcher(next);
}

void ZSDK_ZTKSessionFetcherService::startFetcher(const std::shared_ptr<Fetcher>& fetcher) {
  fetcher->beginFetchMayDelay(false, true);
}

void ZSDK_ZTKSessionFetcherService::stopFetcher(const std::shared_ptr<Fetcher>& fetcher) { fetcher->stopFetching(); }

void ZSDK_ZTKSessionFetcherService::stopAllFetchers() {
  FetchersByHost delayed;
  FetchersByHost running;
  {
    Lock lock(mutex_);
    delayed.swap(delayedFetchersByHost_);
    running.swap(runningFetchersByHost_);
    for (const auto& [host, list] : delayed) noteWaiting(list, -1);
  }
  for (const auto& [host, list] : delayed)
    for (const auto& fetcher : list) stopFetcher(fetcher);
  for (const auto& [host, list] : running)
    for (const auto& fetcher : list) stopFetcher(fetcher);
}

// ---------------------------------------------------------------------------------------------
// Service: queries and settings

std::size_t ZSDK_ZTKSessionFetcherService::numberOfRunningFetchers() {
  Lock lock(mutex_);
  return countAll(runningFetchersByHost_);
}

std::size_t ZSDK_ZTKSessionFetcherService::numberOfDelayedFetchers() {
  Lock lock(mutex_);
  return countAll(delayedFetchersByHost_);
}

std::size_t ZSDK_ZTKSessionFetcherService::numberOfFetchers() {
  Lock lock(mutex_);
  return countAll(runningFetchersByHost_) + countAll(delayedFetchersByHost_);
}

std::optional<ZSDK_ZTKSessionFetcherService::FetcherList> ZSDK_ZTKSessionFetcherService::issuedFetchers() {
  FetcherList all;
  Lock lock(mutex_);
  for (const auto* byHost : {&runningFetchersByHost_, &delayedFetchersByHost_})
    for (const auto& [host, list] : *byHost) all.insert(all.end(), list.begin(), list.end());
  if (all.empty()) return std::nullopt;
  return all;
}

std::optional<ZSDK_ZTKSessionFetcherService::FetcherList> ZSDK_ZTKSessionFetcherService::issuedFetchersWithRequestURL(
    const URL& url) {
  if (url.host().value_or("").empty()) return std::nullopt;
  FetcherList matching;
  for (const auto& fetcher : issuedFetchers().value_or(FetcherList{})) {
    const auto request = fetcher->mutableRequest();
    if (request && request->url && request->url->absoluteString() == url.absoluteString()) matching.push_back(fetcher);
  }
  if (matching.empty()) return std::nullopt;
  return matching;
}

ZSDK_ZTKSessionFetcherService::FetchersByHost ZSDK_ZTKSessionFetcherService::runningFetchersByHost() {
  Lock lock(mutex_);
  return runningFetchersByHost_;
}

void ZSDK_ZTKSessionFetcherService::setRunningFetchersByHost(FetchersByHost dict) {
  Lock lock(mutex_);
  runningFetchersByHost_ = std::move(dict);
}

ZSDK_ZTKSessionFetcherService::FetchersByHost ZSDK_ZTKSessionFetcherService::delayedFetchersByHost() {
  Lock lock(mutex_);
  return delayedFetchersByHost_;
}

void ZSDK_ZTKSessionFetcherService::setDelayedFetchersByHost(FetchersByHost dict) {
  Lock lock(mutex_);
  for (const auto& [host, list] : delayedFetchersByHost_) noteWaiting(list, -1);
  delayedFetchersByHost_ = std::move(dict);
  for (const auto& [host, list] : delayedFetchersByHost_) noteWaiting(list, 1);
}

std::shared_ptr<URLSession> ZSDK_ZTKSessionFetcherService::session() {
  Lock lock(mutex_);
  return delegateDispatcher_ ? delegateDispatcher_->session() : nullptr;
}

std::shared_ptr<URLSessionDelegate> ZSDK_ZTKSessionFetcherService::sessionDelegate() {
  Lock lock(mutex_);
  return delegateDispatcher_;
}

std::shared_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher>
ZSDK_ZTKSessionFetcherService::sessionDelegateDispatcher() {
  Lock lock(mutex_);
  return delegateDispatcher_;
}

std::shared_ptr<DispatchQueue> ZSDK_ZTKSessionFetcherService::callbackQueue() {
  Lock lock(mutex_);
  return callbackQueue_;
}

void ZSDK_ZTKSessionFetcherService::setCallbackQueue(std::shared_ptr<DispatchQueue> queue) {
  Lock lock(mutex_);
  callbackQueue_ = std::move(queue);
}

void ZSDK_ZTKSessionFetcherService::abandonDispatcherLocked() {
  if (delegateDispatcher_) delegateDispatcher_->abandon();
}

bool ZSDK_ZTKSessionFetcherService::reuseSession() {
  Lock lock(mutex_);
  return delegateDispatcher_ != nullptr;
}

void ZSDK_ZTKSessionFetcherService::setReuseSession(bool reuse) {
  Lock lock(mutex_);
  if (reuse == (delegateDispatcher_ != nullptr)) return;
  abandonDispatcherLocked();
  delegateDispatcher_ = reuse ? std::make_shared<Dispatcher>(weak_from_this(), unusedSessionTimeout_) : nullptr;
}

void ZSDK_ZTKSessionFetcherService::resetSession() {
  Lock lock(mutex_);
  if (!delegateDispatcher_) return;
  abandonDispatcherLocked();
  delegateDispatcher_ = std::make_shared<Dispatcher>(weak_from_this(), unusedSessionTimeout_);
}

TimeInterval ZSDK_ZTKSessionFetcherService::unusedSessionTimeout() {
  Lock lock(mutex_);
  return unusedSessionTimeout_;
}

void ZSDK_ZTKSessionFetcherService::setUnusedSessionTimeout(TimeInterval seconds) {
  Lock lock(mutex_);
  unusedSessionTimeout_ = seconds;
  if (delegateDispatcher_) delegateDispatcher_->setDiscardInterval(seconds);
}

long ZSDK_ZTKSessionFetcherService::cookieStorageMethod() {
  Lock lock(mutex_);
  return cookieStorageMethod_;
}

void ZSDK_ZTKSessionFetcherService::setCookieStorageMethod(long method) {
  Lock lock(mutex_);
  cookieStorageMethod_ = method;
}

std::shared_ptr<ZTKFetcherAuthorizationProtocol> ZSDK_ZTKSessionFetcherService::authorizer() {
  Lock lock(mutex_);
  return authorizer_;
}

void ZSDK_ZTKSessionFetcherService::detachAuthorizer(const std::shared_ptr<ZTKFetcherAuthorizationProtocol>& old) {
  if (!old) return;
  const auto attached = old->fetcherService();
  if (attached && attached.get() == static_cast<ZTKSessionFetcherServiceProtocol*>(this))
    old->setFetcherService(nullptr);
}

void ZSDK_ZTKSessionFetcherService::setAuthorizer(std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer) {
  {
    Lock lock(mutex_);
    if (authorizer == authorizer_) return;
    detachAuthorizer(authorizer_);
    authorizer_ = authorizer;
  }
  if (authorizer) authorizer->setFetcherService(shared_from_this());
}

bool ZSDK_ZTKSessionFetcherService::waitForCompletionOfAllFetchersWithTimeout(TimeInterval timeoutInSeconds) {
  using SteadyClock = std::chrono::steady_clock;
  const auto giveUp = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                               std::chrono::duration<double>(std::max(timeoutInSeconds, 0.0)));
  {
    Lock lock(mutex_);
    stoppedFetchersToWaitFor_.emplace();
  }
  bool finished = true;
  for (;;) {
    std::shared_ptr<Fetcher> stopped;
    {
      Lock lock(mutex_);
      const bool idle = countAll(runningFetchersByHost_) + countAll(delayedFetchersByHost_) == 0;
      if (idle && stoppedFetchersToWaitFor_->empty()) break;
      if (!stoppedFetchersToWaitFor_->empty()) {
        stopped = stoppedFetchersToWaitFor_->front();
        stoppedFetchersToWaitFor_->erase(stoppedFetchersToWaitFor_->begin());
      }
    }
    if (SteadyClock::now() > giveUp) {
      finished = false;
      break;
    }
    if (stopped) stopped->waitForCompletionWithTimeout(0.01);
    if (RunLoop::isMainThread()) {
      RunLoop::main().runOnce(0.001);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  Lock lock(mutex_);
  stoppedFetchersToWaitFor_.reset();
  return finished;
}
