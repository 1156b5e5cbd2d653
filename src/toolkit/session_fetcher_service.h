#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_service_protocol.h"

class ZSDK_ZTKSessionFetcherService;

inline constexpr const char* kZTKSessionFetcherServiceSessionBecameInvalidNotification =
    "kZTKSessionFetcherServiceSessionBecameInvalidNotification";
inline constexpr const char* kZTKSessionFetcherServiceSessionKey = "kZTKSessionFetcherServiceSessionKey";
// Where the mock service's faked responses claim to come from.
inline constexpr const char* kZTKSessionFetcherMockURL = "http://fetcher-mock.invalid/";

// The one delegate of a service's shared session: routes each task's callbacks to the fetcher
// running it, and lets the session go once it has been idle for `discardInterval` seconds.
class ZSDK_ZTKSessionFetcherSessionDelegateDispatcher
    : public URLSessionDelegate,
      public std::enable_shared_from_this<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher> {
 public:
  using Fetcher = ZSDK_ZTKSessionFetcher;

  ZSDK_ZTKSessionFetcherSessionDelegateDispatcher(std::weak_ptr<ZSDK_ZTKSessionFetcherService> parentService,
                                                  TimeInterval discardInterval);
  ~ZSDK_ZTKSessionFetcherSessionDelegateDispatcher() override;

  // "<class> <address> <session or <no session>> <tasks or <no tasks>>".
  std::string description() const;

  std::shared_ptr<URLSession> session() const;
  void setSession(std::shared_ptr<URLSession> session);
  TimeInterval discardInterval() const;
  void setDiscardInterval(TimeInterval interval);

  void setFetcherForTask(const std::shared_ptr<Fetcher>& fetcher, const std::shared_ptr<URLSessionTask>& task);
  void removeFetcher(const std::shared_ptr<Fetcher>& fetcher);
  std::shared_ptr<Fetcher> fetcherForTask(const std::shared_ptr<URLSessionTask>& task) const;
  void removeTaskFromMap(const std::shared_ptr<URLSessionTask>& task);
  std::size_t numberOfMappedTasks() const;

  void startDiscardTimer();
  void destroyDiscardTimer();
  void discardTimerFired();
  bool hasDiscardTimer() const;
  // Drops the timer and lets the session finish its tasks and go.
  void abandon();

  void didBecomeInvalidWithError(const std::shared_ptr<URLSession>& session,
                                 const std::optional<NSError>& error) override;
  void willPerformHTTPRedirection(const std::shared_ptr<URLSession>& session,
                                  const std::shared_ptr<URLSessionTask>& task,
                                  const std::shared_ptr<const HTTPURLResponse>& redirectResponse,
                                  const URLRequest& newRequest, RedirectCompletion completionHandler) override;
  void didReceiveChallenge(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
                           const URLAuthenticationChallenge& challenge, ChallengeCompletion completionHandler) override;
  void needNewBodyStream(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
                         BodyStreamCompletion completionHandler) override;
  void didSendBodyData(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
                       std::int64_t bytesSent, std::int64_t totalBytesSent,
                       std::int64_t totalBytesExpectedToSend) override;
  void didCompleteWithError(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<NSError>& error) override;
  void didReceiveResponse(const std::shared_ptr<URLSession>& session,
                          const std::shared_ptr<URLSessionDataTask>& dataTask,
                          const std::shared_ptr<const URLResponse>& response,
                          ResponseCompletion completionHandler) override;
  bool wantsResponseDisposition(const std::shared_ptr<URLSessionDataTask>& dataTask) override;
  void didBecomeDownloadTask(const std::shared_ptr<URLSession>& session,
                             const std::shared_ptr<URLSessionDataTask>& dataTask,
                             const std::shared_ptr<URLSessionDownloadTask>& downloadTask) override;
  void didReceiveData(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionDataTask>& dataTask,
                      const Data& data) override;
  void willCacheResponse(const std::shared_ptr<URLSession>& session,
                         const std::shared_ptr<URLSessionDataTask>& dataTask, const CachedURLResponse& proposedResponse,
                         CacheCompletion completionHandler) override;
  void didFinishDownloadingToURL(const std::shared_ptr<URLSession>& session,
                                 const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
                                 const URL& location) override;
  void didWriteData(const std::shared_ptr<URLSession>& session,
                    const std::shared_ptr<URLSessionDownloadTask>& downloadTask, std::int64_t bytesWritten,
                    std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) override;
  void didResumeAtOffset(const std::shared_ptr<URLSession>& session,
                         const std::shared_ptr<URLSessionDownloadTask>& downloadTask, std::int64_t fileOffset,
                         std::int64_t expectedTotalBytes) override;

 private:
  void destroyDiscardTimerLocked();
  void scheduleDiscardTimerLocked(TimeInterval interval);

  mutable std::mutex mutex_;
  std::weak_ptr<ZSDK_ZTKSessionFetcherService> parentService_;
  std::shared_ptr<URLSession> session_;
  using TaskMap = std::map<std::shared_ptr<URLSessionTask>, std::shared_ptr<Fetcher>>;
  TaskMap taskToFetcherMap_;
  TaskMap::node_type spareEntry_;  // holds neither task nor fetcher
  std::shared_ptr<Timer> discardTimer_;
  Date idleSince_;
  TimeInterval discardInterval_;
};

// Makes fetchers with shared settings and one shared session, admits at most
// `maxRunningFetchersPerHost` foreground fetchers per host at a time and starts the waiting ones,
// lowest `servicePriority` first, as running ones stop.
class ZSDK_ZTKSessionFetcherService : public ZTKSessionFetcherServiceProtocol,
                                      public ZTKSessionFetcherServiceSettings,
                                      public std::enable_shared_from_this<ZSDK_ZTKSessionFetcherService> {
 public:
  using Fetcher = ZSDK_ZTKSessionFetcher;
  using FetcherList = std::vector<std::shared_ptr<Fetcher>>;
  using FetchersByHost = std::map<std::string, FetcherList>;
  using Dispatcher = ZSDK_ZTKSessionFetcherSessionDelegateDispatcher;
  // Makes a fetcher of the caller's class from (request, configuration).
  using FetcherClass = std::function<std::shared_ptr<Fetcher>(std::optional<URLRequest> request,
                                                              std::optional<URLSessionConfiguration> configuration)>;

  static std::shared_ptr<ZSDK_ZTKSessionFetcherService> create();
  // Every fetch of the service answers (200, data) or, with an error, (500, error).
  static std::shared_ptr<ZSDK_ZTKSessionFetcherService> mockFetcherServiceWithFakedData(
      std::optional<Data> fakedData, std::optional<NSError> fakedError);
  ZSDK_ZTKSessionFetcherService();
  ~ZSDK_ZTKSessionFetcherService() override;
  ZSDK_ZTKSessionFetcherService(const ZSDK_ZTKSessionFetcherService&) = delete;
  ZSDK_ZTKSessionFetcherService& operator=(const ZSDK_ZTKSessionFetcherService&) = delete;

  std::shared_ptr<Fetcher> fetcherWithRequest(const URLRequest& request, const FetcherClass& fetcherClass);
  std::shared_ptr<Fetcher> fetcherWithRequest(const URLRequest& request) override;
  std::shared_ptr<Fetcher> fetcherWithURL(const URL& url);
  std::shared_ptr<Fetcher> fetcherWithURLString(std::string_view urlString);

  bool fetcherShouldBeginFetching(const std::shared_ptr<Fetcher>& fetcher) override;
  void fetcherDidCreateSession(const std::shared_ptr<Fetcher>& fetcher) override;
  void fetcherDidBeginFetching(const std::shared_ptr<Fetcher>& fetcher) override;
  void fetcherDidStop(const std::shared_ptr<Fetcher>& fetcher) override;
  bool isDelayingFetcher(const std::shared_ptr<Fetcher>& fetcher) override;
  bool mayBeDelayingFetcher(const Fetcher& fetcher) override;
  std::shared_ptr<URLSession> session() override;
  std::shared_ptr<URLSessionDelegate> sessionDelegate() override;
  std::shared_ptr<DispatchQueue> callbackQueue() override;
  void setCallbackQueue(std::shared_ptr<DispatchQueue> queue) override;
  bool reuseSession() override;
  void setReuseSession(bool reuse) override;
  std::shared_ptr<DispatchQueue> delegateQueue() override { return nullptr; }

  void startFetcher(const std::shared_ptr<Fetcher>& fetcher);
  void stopFetcher(const std::shared_ptr<Fetcher>& fetcher);
  // Stops the waiting fetchers, then the running ones; none of the waiting ones starts.
  void stopAllFetchers();
  std::size_t numberOfFetchers();
  std::size_t numberOfRunningFetchers();
  std::size_t numberOfDelayedFetchers();
  // Running fetchers, then waiting ones; nothing when there are none.
  std::optional<FetcherList> issuedFetchers();
  std::optional<FetcherList> issuedFetchersWithRequestURL(const URL& url);
  FetchersByHost runningFetchersByHost();
  void setRunningFetchersByHost(FetchersByHost dict);
  FetchersByHost delayedFetchersByHost();
  void setDelayedFetchersByHost(FetchersByHost dict);
  void resetSession();
  std::shared_ptr<Dispatcher> sessionDelegateDispatcher();
  static std::size_t numberOfNonBackgroundSessionFetchers(const FetcherList& fetchers);
  // Real time; on the main thread the main run loop keeps turning meanwhile.
  bool waitForCompletionOfAllFetchersWithTimeout(TimeInterval timeoutInSeconds);

  TimeInterval unusedSessionTimeout();
  void setUnusedSessionTimeout(TimeInterval seconds);
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer();
  void setAuthorizer(std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer);
  long cookieStorageMethod();
  void setCookieStorageMethod(long method);

  // Plain settings; those of ZTKSessionFetcherServiceSettings are copied into every fetcher made
  // afterwards.
  std::size_t maxRunningFetchersPerHost = 10;

 private:
  using Mutex = std::recursive_mutex;
  using Lock = std::lock_guard<Mutex>;

  static std::shared_ptr<Dispatcher> delegateDispatcherForFetcher(const std::shared_ptr<Fetcher>& fetcher);
  FetcherList& runningListLocked(const std::string& host);
  // Drops the (empty) entry of a host that has nothing running.
  void dropRunningEntryLocked(FetchersByHost::iterator entry);
  // Every fetcher put in or taken out of a waiting list is counted on the fetcher.
  static void noteWaiting(const FetcherList& list, int change);
  void abandonDispatcherLocked();
  void detachAuthorizer(const std::shared_ptr<ZTKFetcherAuthorizationProtocol>& authorizer);

  Mutex mutex_;
  FetchersByHost delayedFetchersByHost_;
  FetchersByHost runningFetchersByHost_;
  FetchersByHost::node_type spareRunningEntry_;
  std::shared_ptr<Dispatcher> delegateDispatcher_;
  TimeInterval unusedSessionTimeout_ = 60.0;
  std::shared_ptr<DispatchQueue> callbackQueue_;
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer_;
  long cookieStorageMethod_ = -1;
  std::optional<FetcherList> stoppedFetchersToWaitFor_;
  // `allowedInsecureSchemes` as last handed to a fetcher.
  std::shared_ptr<const std::vector<std::string>> sharedInsecureSchemes_;
};
