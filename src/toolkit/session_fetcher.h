#pragma once

#include <fmt/format.h>

#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"
#include "platform/foundation/dispatch.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/run_loop.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/value.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/net/http_header_fields.h"
#include "platform/net/input_stream.h"
#include "platform/net/url_authentication.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"
#include "platform/net/url_session.h"
#include "platform/net/url_session_configuration.h"
#include "platform/net/url_session_delegate.h"
#include "platform/net/url_session_task.h"
#include "platform/ui/ui_application.h"
#include "toolkit/fetcher_authorization_protocol.h"
#include "toolkit/session_fetcher_constants.h"
#include "toolkit/session_fetcher_service_protocol.h"

class ZSDK_ZTKSessionCookieStorage;
class ZSDK_ZTKSessionFetcherSessionDelegateDispatcher;
class ZSDK_ZTKSessionFetcher;
struct ZTKSessionFetcherServiceSettings;
struct ZTKSessionFetcherServiceSetUp;

using ZTKSessionFetcherBodyStreamProviderResponse = std::function<void(std::shared_ptr<InputStream> bodyStream)>;
using ZTKSessionFetcherBodyStreamProvider = std::function<void(ZTKSessionFetcherBodyStreamProviderResponse response)>;

// Seconds to wait for a Retry-After value: an HTTP date counts from `now`, anything else reads
// as its leading integer; never negative.
TimeInterval retryAfterSeconds(std::string_view headerValue, Date now);

// The class the fetcher finds by the name "ZTKSessionFetcherUserDefaultsFactory" (with the "ZSDK_"
// prefix first) in the class registry: where its persisted background sessions are kept.
class ZTKSessionFetcherUserDefaultsFactory {
 public:
  virtual ~ZTKSessionFetcherUserDefaultsFactory() = default;
  virtual std::shared_ptr<UserDefaults> fetcherUserDefaults() = 0;
};

// The optional fetch log. The fetcher works without it; when installed it is told of every fetch
// worth recording and may wrap uploaded body streams to see their bytes.
class ZTKSessionFetcherLogging {
 public:
  virtual ~ZTKSessionFetcherLogging() = default;
  virtual void logFetchWithError(ZSDK_ZTKSessionFetcher& fetcher, const std::optional<NSError>& error) = 0;
  virtual std::shared_ptr<InputStream> loggedInputStreamForInputStream(ZSDK_ZTKSessionFetcher& fetcher,
                                                                       std::shared_ptr<InputStream> inputStream) = 0;
  virtual ZTKSessionFetcherBodyStreamProvider loggedStreamProviderForStreamProvider(
      ZSDK_ZTKSessionFetcher& fetcher, ZTKSessionFetcherBodyStreamProvider streamProvider) = 0;
};

// One HTTP fetch over a URL session: signs the request through an optional authorizer, asks an
// optional service for admission and a shared session, collects the body, turns statuses outside
// 0..299 into errors, retries with back-off, and calls the caller back on its callback queue.
//
// Delegate callbacks arrive on the delegate queue (the main queue); caller callbacks run on the
// callback queue inside the callback group, never under the fetcher's lock. Retry timers run on
// the main run loop.
class ZSDK_ZTKSessionFetcher : public URLSessionDelegate, public std::enable_shared_from_this<ZSDK_ZTKSessionFetcher> {
 public:
  using CompletionHandler = std::function<void(std::optional<Data> data, std::optional<NSError> error)>;
  // The delegate's finished selector: (fetcher, data, error).
  using FinishedSelector = std::function<void(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher,
                                              std::optional<Data> data, std::optional<NSError> error)>;
  using ConfigurationBlock = std::function<void(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher,
                                                URLSessionConfiguration& configuration)>;
  // Gets each received chunk; nothing means "drop what was accumulated so far".
  using AccumulateDataBlock = std::function<void(std::optional<Data> buffer)>;
  using ReceivedProgressBlock = std::function<void(std::int64_t bytesWritten, std::int64_t totalBytesWritten)>;
  using DownloadProgressBlock = std::function<void(std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                                   std::int64_t totalBytesExpectedToWrite)>;
  using SendProgressBlock =
      std::function<void(std::int64_t bytesSent, std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)>;
  using ResumeDataBlock = std::function<void(std::optional<Data> resumeData)>;
  using DispositionBlock = std::function<void(URLSessionResponseDisposition disposition)>;
  using DidReceiveResponseBlock =
      std::function<void(std::shared_ptr<const URLResponse> response, DispositionBlock dispositionBlock)>;
  // Nothing refuses the redirect.
  using WillRedirectResponse = std::function<void(std::optional<URLRequest> clientRequest)>;
  using WillRedirectBlock = std::function<void(std::shared_ptr<const HTTPURLResponse> redirectResponse,
                                               URLRequest redirectRequest, WillRedirectResponse response)>;
  using WillCacheURLResponseResponse = std::function<void(std::optional<CachedURLResponse> cachedResponse)>;
  using WillCacheURLResponseBlock =
      std::function<void(CachedURLResponse proposedResponse, WillCacheURLResponseResponse response)>;
  using RetryResponse = std::function<void(bool shouldRetry)>;
  using RetryBlock = std::function<void(bool suggestedWillRetry, std::optional<NSError> error, RetryResponse response)>;
  using TestResponse = std::function<void(std::shared_ptr<const URLResponse> response, std::optional<Data> data,
                                          std::optional<NSError> error)>;
  using TestBlock =
      std::function<void(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcherToTest, TestResponse testResponse)>;
  using BodyStreamProvider = ZTKSessionFetcherBodyStreamProvider;
  using Properties = std::map<std::string, std::any>;

  // Creation. A request without URL makes a fetcher that fails to begin.
  static std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherWithRequest(std::optional<URLRequest> request);
  static std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherWithURL(const URL& url);
  static std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherWithURLString(std::string_view urlString);
  static std::shared_ptr<ZSDK_ZTKSessionFetcher> initWithRequest(
      std::optional<URLRequest> request, std::optional<URLSessionConfiguration> configuration = std::nullopt);

  explicit ZSDK_ZTKSessionFetcher(std::optional<URLRequest> request = std::nullopt,
                                  std::optional<URLSessionConfiguration> configuration = std::nullopt);
  ~ZSDK_ZTKSessionFetcher() override;
  ZSDK_ZTKSessionFetcher(const ZSDK_ZTKSessionFetcher&) = delete;
  ZSDK_ZTKSessionFetcher& operator=(const ZSDK_ZTKSessionFetcher&) = delete;

  // "<class> <address> (<request URL>)".
  std::string description() const;

  // Starting. A begin while this fetcher is already fetching fails only that caller (-1); the
  // running fetch keeps its own completion.
  void beginFetchWithCompletionHandler(CompletionHandler handler);
  // Calls `finishedSelector` with (fetcher, data, error) when both it and `delegate` are set.
  void beginFetchWithDelegate(std::shared_ptr<void> delegate, FinishedSelector finishedSelector);
  CompletionHandler completionHandlerWithTarget(std::shared_ptr<void> target, FinishedSelector finishedSelector);
  // The internal begin; the service starts a fetcher it held back with (false, true).
  void beginFetchMayDelay(bool mayDelay, bool mayAuthorize);

  // Stopping and waiting.
  void stopFetching();
  // Cancels the task and posts the stopped notification; with `shouldReleaseCallbacks` every
  // caller block is dropped.
  void stopFetchReleasingCallbacks(bool shouldReleaseCallbacks);
  // Waits (real time) until the completion ran; on the main thread the main run loop keeps
  // turning meanwhile.
  bool waitForCompletionWithTimeout(TimeInterval timeoutInSeconds);

  // Result.
  std::shared_ptr<const URLResponse> response() const;
  int statusCode() const;
  std::optional<HTTPHeaderFields> responseHeaders() const;
  bool isFetching();
  std::optional<Data> downloadedData() const;
  std::int64_t downloadedLength() const;
  // A response body longer than this (counted after decoding) cancels the task and fails the
  // fetch with NSURLErrorDataLengthExceedsMaximum, whatever session the fetch runs in.
  std::optional<std::int64_t> maximumResponseBodySize() const;
  void setMaximumResponseBodySize(std::optional<std::int64_t> size);

  // Request and session.
  std::shared_ptr<URLRequest> mutableRequest() const;
  // A new request may be signed again even if the old one was redirected to another origin.
  void setMutableRequest(std::shared_ptr<URLRequest> request);
  std::shared_ptr<URLSession> session() const;
  void setSession(std::shared_ptr<URLSession> session);
  std::optional<URLSessionConfiguration> configuration() const;
  void setConfiguration(std::optional<URLSessionConfiguration> configuration);
  ConfigurationBlock configurationBlock() const;
  void setConfigurationBlock(ConfigurationBlock block);
  std::shared_ptr<URLSessionTask> sessionTask() const;
  std::optional<std::string> taskDescription() const;
  void setTaskDescription(std::optional<std::string> description);
  bool canShareSession() const;
  void setCanShareSession(bool flag);
  bool useUploadTask() const;
  void setUseUploadTask(bool flag);
  bool allowLocalhostRequest() const;
  void setAllowLocalhostRequest(bool flag);
  bool allowInvalidServerCertificates() const;
  void setAllowInvalidServerCertificates(bool flag);
  std::vector<std::string> allowedInsecureSchemes() const;
  void setAllowedInsecureSchemes(std::vector<std::string> schemes);
  std::shared_ptr<DispatchQueue> delegateQueue() const;
  void setDelegateQueue(std::shared_ptr<DispatchQueue> queue);

  // Body.
  std::optional<Data> bodyData() const;
  void setBodyData(std::optional<Data> data);
  std::optional<URL> bodyFileURL() const;
  void setBodyFileURL(std::optional<URL> url);
  BodyStreamProvider bodyStreamProvider() const;
  void setBodyStreamProvider(BodyStreamProvider provider);
  // The body's length when known: body data, else the body file's size; -1 when unknown.
  std::int64_t bodyLength();

  // Callbacks.
  std::shared_ptr<DispatchQueue> callbackQueue() const;
  void setCallbackQueue(std::shared_ptr<DispatchQueue> queue);
  DispatchGroup callbackGroup() const;
  CompletionHandler completionHandler() const;
  void setCompletionHandler(CompletionHandler handler);
  AccumulateDataBlock accumulateDataBlock() const;
  void setAccumulateDataBlock(AccumulateDataBlock block);
  ReceivedProgressBlock receivedProgressBlock() const;
  void setReceivedProgressBlock(ReceivedProgressBlock block);
  DownloadProgressBlock downloadProgressBlock() const;
  void setDownloadProgressBlock(DownloadProgressBlock block);
  SendProgressBlock sendProgressBlock() const;
  void setSendProgressBlock(SendProgressBlock block);
  ResumeDataBlock resumeDataBlock() const;
  void setResumeDataBlock(ResumeDataBlock block);
  DidReceiveResponseBlock didReceiveResponseBlock() const;
  void setDidReceiveResponseBlock(DidReceiveResponseBlock block);
  WillRedirectBlock willRedirectBlock() const;
  void setWillRedirectBlock(WillRedirectBlock block);
  WillCacheURLResponseBlock willCacheURLResponseBlock() const;
  void setWillCacheURLResponseBlock(WillCacheURLResponseBlock block);
  RetryBlock retryBlock() const;
  void setRetryBlock(RetryBlock block);
  TestBlock testBlock() const;
  void setTestBlock(TestBlock block);
  static void setGlobalTestBlock(TestBlock block);
  bool isUsingTestBlock() const;

  // Collaborators.
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer() const;
  void setAuthorizer(std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer);
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service() const;
  void setService(std::shared_ptr<ZTKSessionFetcherServiceProtocol> service);
  // The service's settings in one step, as its setters would leave them one by one; the user agent
  // goes in unless `request` (the one the fetcher was made from) names one.
  void setUpForService(const ZTKSessionFetcherServiceSettings& settings, const URLRequest& request,
                       ZTKSessionFetcherServiceSetUp setUp);
  std::optional<std::string> serviceHost() const;
  void setServiceHost(std::optional<std::string> host);
  std::int64_t servicePriority() const;
  void setServicePriority(std::int64_t priority);
  std::optional<URLCredential> credential() const;
  void setCredential(std::optional<URLCredential> credential);
  std::optional<URLCredential> proxyCredential() const;
  void setProxyCredential(std::optional<URLCredential> credential);
  std::shared_ptr<HTTPCookieStorage> cookieStorage() const;
  void setCookieStorage(std::shared_ptr<HTTPCookieStorage> storage);
  // 0 (and unknown values): the class-wide store; 1: unchanged; 2: the shared store; 3: a private
  // store for this fetcher.
  void setCookieStorageMethod(long method);
  static std::shared_ptr<ZSDK_ZTKSessionCookieStorage> staticCookieStorage();

  // Caller's slots.
  std::any userData() const;
  void setUserData(std::any userData);
  Properties properties() const;
  void setProperties(Properties properties);
  // An empty value removes the key.
  void setProperty(std::any value, const std::string& key);
  std::any propertyForKey(const std::string& key) const;
  void addPropertiesFromDictionary(const Properties& properties);
  std::optional<std::string> comment() const;
  void setComment(std::optional<std::string> comment);
  template <class... Args>
  void setCommentWithFormat(fmt::format_string<Args...> format, Args&&... args) {
    setComment(fmt::format(format, std::forward<Args>(args)...));
  }
  bool userStoppedFetching() const;
  Date initialRequestDate() const;

  // Retry.
  bool isRetryEnabled() const;
  // Turning retry on draws a new minimum interval and resets the cap and the factor.
  void setRetryEnabled(bool flag);
  TimeInterval maxRetryInterval() const;
  // Values <= 0 mean "unset" (-1): a begin with retry on picks 60 s for GET/HEAD, else 600 s.
  void setMaxRetryInterval(TimeInterval seconds);
  TimeInterval minRetryInterval() const;
  // Values <= 0 draw a new random minimum in [1, 2).
  void setMinRetryInterval(TimeInterval seconds);
  double retryFactor() const;
  void setRetryFactor(double factor);
  std::uint64_t retryCount() const;
  std::shared_ptr<Timer> retryTimer() const;
  // Answers through `response` (at once, or after the retry block answered).
  void shouldRetryNowForStatus(int status, std::optional<NSError> error, RetryResponse response);
  static bool isRetryError(const NSError& error);
  TimeInterval nextRetryInterval() const;
  bool hasRetryAfterInterval() const;
  TimeInterval retryAfterInterval() const;
  void beginRetryTimer();
  void retryTimerFired();
  void destroyRetryTimer();
  void retryFetch();
  // Where the random part of the minimum retry interval comes from: a value in 0..65534 (larger
  // values are reduced). nullptr restores the default generator.
  static void setRetryRandomSource(std::function<std::uint32_t()> source);

  // Background sessions and files. Background sessions run in this process: a fetcher restored
  // for the identifier of a session whose tasks still run takes its task over; after a restart
  // there are none, and it fails with -4.
  static std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherWithDownloadResumeData(Data resumeData);
  // The live fetcher of `identifier`, else a new one for an identifier this class made; nullptr otherwise.
  static std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherWithSessionIdentifier(const std::string& identifier);
  // Called once at start-up: begins a fetcher for every persisted background session.
  static std::vector<std::shared_ptr<ZSDK_ZTKSessionFetcher>> fetchersForBackgroundSessions();
  // The persisted identifiers that have a live fetcher, in stored order; nothing when none.
  static std::optional<std::vector<std::string>> activePersistedBackgroundSessions();
  // Decided once per process: the registered ZTKSessionFetcherUserDefaultsFactory's, else the
  // standard defaults.
  static std::shared_ptr<UserDefaults> fetcherUserDefaults();
  // Takes the place of the defaults decided above; nullptr puts them back.
  static void setFetcherUserDefaults(std::shared_ptr<UserDefaults> defaults);
  // The system's "events handled" call for a background session, kept per identifier.
  using SystemCompletionHandler = std::function<void()>;
  static void applicationHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                             SystemCompletionHandler completionHandler);
  static SystemCompletionHandler systemCompletionHandlerForSessionIdentifier(const std::string& identifier);
  // A null handler removes the entry.
  static void setSystemCompletionHandlerForSessionIdentifier(SystemCompletionHandler handler,
                                                             const std::string& identifier);
  SystemCompletionHandler systemCompletionHandler() const;
  void setSystemCompletionHandler(SystemCompletionHandler handler);
  // The identifier's JSON part; sets the UUID when the identifier has all its parts.
  std::optional<Value::Dictionary> sessionIdentifierMetadata();
  std::optional<std::string> sessionIdentifier() const;
  void setSessionIdentifier(std::optional<std::string> identifier);
  std::optional<std::string> sessionIdentifierUUID() const;
  bool useBackgroundSession() const;
  void setUseBackgroundSession(bool flag);
  std::optional<Value::Dictionary> sessionUserInfo();
  void setSessionUserInfo(std::optional<Value::Dictionary> userInfo);
  std::optional<URL> destinationFileURL() const;
  void setDestinationFileURL(std::optional<URL> url);
  std::optional<Data> downloadResumeData() const;
  void setDownloadResumeData(std::optional<Data> data);
  std::optional<NSError> downloadMoveError() const;

  // Fetch log state.
  std::optional<std::string> log() const;
  void setLog(std::optional<std::string> log);
  std::optional<Data> loggedStreamData() const;
  void setLoggedStreamData(std::optional<Data> data);
  std::optional<URL> redirectedFromURL() const;
  void setRedirectedFromURL(std::optional<URL> url);
  std::optional<std::string> logRequestBody() const;
  void setLogRequestBody(std::optional<std::string> body);
  std::optional<std::string> logResponseBody() const;
  void setLogResponseBody(std::optional<std::string> body);
  bool hasLoggedError() const;
  bool deferResponseBodyLogging() const;
  void setDeferResponseBodyLogging(bool flag);

  // Process-wide collaborators.
  static void setLogging(std::shared_ptr<ZTKSessionFetcherLogging> logging);
  static std::shared_ptr<ZTKSessionFetcherLogging> logging();

  // URL-session delegate.
  void didBecomeInvalidWithError(const std::shared_ptr<URLSession>& session,
                                 const std::optional<NSError>& error) override;
  void didFinishEventsForBackgroundURLSession(const std::shared_ptr<URLSession>& session) override;
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

 protected:
  // True: completion drops every caller block (a subclass may keep them).
  virtual bool shouldReleaseCallbacksUponCompletion() { return true; }
  void failToBeginFetchWithError(std::optional<NSError> error);
  void finishWithError(std::optional<NSError> error, bool shouldRetry);
  // Runs `block` on `queue` inside the callback group, unless the user stopped the fetch first
  // (or `afterUserStopped`). Nothing happens without a queue.
  void invokeOnCallbackQueue(const std::shared_ptr<DispatchQueue>& queue, bool afterUserStopped,
                             std::function<void()> block);
  void invokeOnCallbackQueueUnlessStopped(std::function<void()> block);
  void invokeOnCallbackQueueAfterUserStopped(bool afterUserStopped, std::function<void()> block);
  // `invokeOnCallbackQueue` for a caller that holds the fetcher and its callback group already.
  template <class Block>
  static void dispatchToCallbackQueue(std::shared_ptr<ZSDK_ZTKSessionFetcher> self, DispatchQueue& queue,
                                      DispatchGroup group, bool afterUserStopped, Block block);

 private:
  using Mutex = std::recursive_mutex;
  using Lock = std::lock_guard<Mutex>;

  // The service's host bookkeeping, each in one step of the fetcher's lock.
  friend class ZSDK_ZTKSessionFetcherService;
  // The host the service counts this fetch under (the request's, "localhost" for a file URL;
  // nothing without one); with `record` it becomes the service host too.
  std::optional<std::string> requestHostKey(bool record);
  // With the host, the dispatcher that mapped this fetch's task, if any.
  std::optional<std::string> takeServiceHost(
      std::shared_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher>& mappedDispatcher);
  // The task to map; the dispatcher mapping it is remembered for the stop.
  std::shared_ptr<URLSessionTask> taskMappedBy(
      const std::shared_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher>& dispatcher);

  template <class T>
  T locked(const T& field) const {
    Lock lock(mutex_);
    return field;
  }
  template <class T, class U>
  void assignLocked(T& field, U&& value) {
    Lock lock(mutex_);
    field = std::forward<U>(value);
  }

  // The steps of a begin, in order; each takes the fetcher's lock for itself.
  struct BeginState;
  // How far the request step got: the task may be made under its lock already.
  enum class TaskStep { Pending, Made, Stopped, NoSession };
  void continueBegin(BeginState& begin, bool mayDelay, bool mayAuthorize);
  bool passBeginChecks(BeginState& begin);
  bool passBeginChecksLocked(BeginState& begin, std::optional<NSError>& failure);
  std::optional<NSError> beginFailureLocked(std::string& scheme) const;
  void chooseSession(BeginState& begin);
  void createSession(BeginState& begin);
  void takeSharedSession(BeginState& begin);
  URLSessionConfiguration sessionConfigurationLocked(BeginState& begin);
  void resetDownloadStateLocked();
  bool admitToService(const BeginState& begin);
  void dropSharedSession(const BeginState& begin);
  TaskStep prepareRequestBody(BeginState& begin, bool mayAuthorize);
  bool needsAuthorization(const BeginState& begin);
  bool createTask(BeginState& begin);
  TaskStep createTaskLocked(BeginState& begin);
  std::shared_ptr<URLSessionTask> makeTaskLocked(const BeginState& begin);
  void startTask(const BeginState& begin);

  // `finishWithError` for a caller that read the status under the lock just before.
  void finish(std::optional<NSError> error, bool shouldRetry, std::optional<int> knownStatus);
  void authorizeRequest();
  void authorizerRequestFinishedWithError(const std::optional<NSError>& error);
  void releaseCallbacks();
  // Caller blocks taken out under the lock, destroyed after it: their captures may call back in.
  struct ReleasedCallbacks;
  void takeCallbacksLocked(ReleasedCallbacks& released);
  // The steps of a stop after its first lock.
  struct StopState;
  void takeStopStateLocked(StopState& stop, bool shouldReleaseCallbacks);
  void cancelStoppedTask(StopState& stop);
  void sendStopNotificationIfNeeded();
  enum class Notification { Started, Stopped, RetryDelayStarted, RetryDelayStopped };
  void postNotification(Notification notification);
  void logNowWithError(const std::optional<NSError>& error);
  void backgroundFetchExpired();
  void endBackgroundTask();
  // Records the task a delegate callback names; false for a callback of a task this fetcher no
  // longer runs (cancelled before a new attempt began).
  bool recordTask(const std::shared_ptr<URLSessionTask>& task);
  bool recordTaskLocked(const std::shared_ptr<URLSessionTask>& task);
  // Whether an authorizer or the service holds a fetch that has no task (signing, waiting).
  bool heldByCollaborators(const std::shared_ptr<ZTKFetcherAuthorizationProtocol>& authorizer,
                           const std::shared_ptr<ZTKSessionFetcherServiceProtocol>& service,
                           const std::shared_ptr<URLRequest>& request);
  void forgetAbandonedTaskLocked(const std::shared_ptr<URLSessionTask>& task);
  void applyDisposition(URLSessionResponseDisposition disposition, const ResponseCompletion& completionHandler);
  AccumulateDataBlock resetBufferLocked(URLSessionResponseDisposition disposition);
  void finishDisposition(AccumulateDataBlock accumulate, URLSessionResponseDisposition disposition,
                         const ResponseCompletion& completionHandler);
  std::shared_ptr<const URLResponse> responseLocked() const;
  int statusCodeLocked() const;
  NSError statusErrorLocked(int status) const;
  TimeInterval nextRetryIntervalLocked() const;
  std::optional<std::string> retryAfterHeaderLocked() const;

  // Background sessions: identifiers, the persisted list and simulated responses.
  void createSessionIdentifierWithMetadata(const std::optional<Value::Dictionary>& metadata);
  void forgetSessionIdentifierForFetcher();
  void addPersistedBackgroundSessionToDefaults();
  void removePersistedBackgroundSessionFromDefaults();
  void restoreBackgroundSessionTasks();
  void simulateFetchForTestBlock();
  void simulateDataCallbacks(const std::shared_ptr<const URLResponse>& response, const std::optional<Data>& data,
                             const std::optional<NSError>& error);
  struct SimulatedCallbacks;
  SimulatedCallbacks simulatedCallbacks();
  void simulateResponseCallbacks(const SimulatedCallbacks& callbacks,
                                 const std::shared_ptr<const URLResponse>& response);
  // The error of writing the body to the destination file, if any.
  std::optional<NSError> simulateDownload(const SimulatedCallbacks& callbacks, const std::optional<Data>& data);
  void simulateDataArrival(const SimulatedCallbacks& callbacks, const std::shared_ptr<const URLResponse>& response,
                           const std::optional<Data>& data);
  void writeDownloadedDataToDestinationLocked();

  mutable Mutex mutex_;

  std::shared_ptr<URLRequest> request_;
  std::shared_ptr<URLSession> session_;
  bool shouldInvalidateSession_ = false;
  std::optional<URLSessionConfiguration> configuration_;
  std::shared_ptr<URLSessionTask> sessionTask_;
  // Tasks cancelled by a stop whose completion has not arrived yet.
  std::vector<std::weak_ptr<URLSessionTask>> abandonedTasks_;
  std::optional<std::string> taskDescription_;
  std::shared_ptr<const URLResponse> response_;

  std::optional<std::string> sessionIdentifier_;
  bool didCreateSessionIdentifier_ = false;
  std::optional<std::string> sessionIdentifierUUID_;
  // Atomic: the service reads these for every fetcher of a host whenever one stops.
  std::atomic<bool> useBackgroundSession_ = false;
  std::optional<Value::Dictionary> sessionUserInfo_;

  std::optional<Data> downloadedData_;
  std::optional<NSError> downloadMoveError_;
  std::optional<Data> downloadResumeData_;
  std::optional<URL> destinationFileURL_;
  std::int64_t downloadedLength_ = 0;
  std::optional<std::int64_t> maximumResponseBodySize_;
  // The task was cancelled for a body past the maximum: its completion reports that instead.
  bool responseTooLarge_ = false;

  std::optional<URLCredential> credential_;
  std::optional<URLCredential> proxyCredential_;
  bool isStopNotificationNeeded_ = false;
  bool isUsingTestBlock_ = false;
  UIBackgroundTaskIdentifier backgroundTaskIdentifier_ = UIBackgroundTaskInvalid;
  std::any userData_;
  std::optional<Properties> properties_;

  std::shared_ptr<DispatchQueue> callbackQueue_;
  DispatchGroup callbackGroup_;
  std::shared_ptr<DispatchQueue> delegateQueue_;
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer_;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service_;
  std::optional<std::string> serviceHost_;
  std::weak_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher> mappedDispatcher_;
  // How many waiting lists of a service hold this fetcher: none, and no service is delaying it.
  // Changed under the service's lock, read by a begin under the fetcher's.
  std::atomic<std::int64_t> waitingEntries_ = 0;
  std::atomic<std::int64_t> servicePriority_ = 0;
  // Written under the lock; atomic so that a dispatched callback checks it without the lock.
  std::atomic<bool> userStoppedFetching_ = false;

  bool isRetryEnabled_ = false;
  std::shared_ptr<Timer> retryTimer_;
  std::uint64_t retryCount_ = 0;
  TimeInterval maxRetryInterval_ = -1.0;
  TimeInterval minRetryInterval_ = 0;
  double retryFactor_ = 0;
  TimeInterval lastRetryInterval_ = 0;
  bool hasAttemptedAuthRefresh_ = false;
  // The request was redirected to another origin: the authorizer's token must not follow it,
  // neither on a retry nor after a 401.
  bool redirectedToOtherOrigin_ = false;
  std::optional<Date> initialRequestDate_;

  std::optional<std::string> comment_;
  bool commentSet_ = false;
  std::optional<std::string> log_;
  std::optional<Data> loggedStreamData_;
  std::optional<URL> redirectedFromURL_;
  std::optional<std::string> logRequestBody_;
  std::optional<std::string> logResponseBody_;
  bool hasLoggedError_ = false;
  bool hasLogged_ = false;
  bool deferResponseBodyLogging_ = false;

  bool canShareSession_ = false;
  bool useUploadTask_ = false;
  bool allowLocalhostRequest_ = false;
  bool allowInvalidServerCertificates_ = false;
  std::vector<std::string> allowedInsecureSchemes_;
  // A service's schemes, shared by its fetchers instead of copied into each; when set, they are
  // the fetcher's.
  std::shared_ptr<const std::vector<std::string>> sharedInsecureSchemes_;
  std::shared_ptr<HTTPCookieStorage> cookieStorage_;

  CompletionHandler completionHandler_;
  std::optional<Data> bodyData_;
  std::optional<URL> bodyFileURL_;
  BodyStreamProvider bodyStreamProvider_;
  std::int64_t bodyLength_ = NSURLSessionTransferSizeUnknown;

  ConfigurationBlock configurationBlock_;
  AccumulateDataBlock accumulateDataBlock_;
  ReceivedProgressBlock receivedProgressBlock_;
  DownloadProgressBlock downloadProgressBlock_;
  SendProgressBlock sendProgressBlock_;
  ResumeDataBlock resumeDataBlock_;
  DidReceiveResponseBlock didReceiveResponseBlock_;
  WillRedirectBlock willRedirectBlock_;
  WillCacheURLResponseBlock willCacheURLResponseBlock_;
  RetryBlock retryBlock_;
  TestBlock testBlock_;
};

// What a service hands each fetcher it makes besides its plain settings.
struct ZTKSessionFetcherServiceSetUp {
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::shared_ptr<DispatchQueue> callbackQueue;  // nullptr keeps the fetcher's
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  long cookieStorageMethod = -1;  // negative leaves the storage alone
  // The settings' insecure schemes, made once for all of the service's fetchers; nullptr for none.
  std::shared_ptr<const std::vector<std::string>> allowedInsecureSchemes;
};

// The plain settings a fetcher service copies into every fetcher it makes.
struct ZTKSessionFetcherServiceSettings {
  std::optional<URLSessionConfiguration> configuration;
  ZSDK_ZTKSessionFetcher::ConfigurationBlock configurationBlock;
  std::shared_ptr<HTTPCookieStorage> cookieStorage;
  std::optional<std::string> userAgent;
  std::optional<URLCredential> credential;
  std::optional<URLCredential> proxyCredential;
  std::vector<std::string> allowedInsecureSchemes;
  bool allowLocalhostRequest = false;
  bool allowInvalidServerCertificates = false;
  bool retryEnabled = false;
  ZSDK_ZTKSessionFetcher::RetryBlock retryBlock;
  TimeInterval maxRetryInterval = 0;
  TimeInterval minRetryInterval = 0;
  std::optional<ZSDK_ZTKSessionFetcher::Properties> properties;
  ZSDK_ZTKSessionFetcher::TestBlock testBlock;
};
