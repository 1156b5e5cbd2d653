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

namespace {

struct ClassState {
  std::mutex mutex;
  ZSDK_ZTKSessionFetcher::TestBlock globalTestBlock;
  std::shared_ptr<ZTKSessionFetcherLogging> logging;
  std::function<std::uint32_t()> randomSource;
  std::mt19937 engine{std::random_device{}()};
  // Background-session identifier -> the fetcher running it.
  std::map<std::string, std::weak_ptr<ZSDK_ZTKSessionFetcher>> fetchersBySessionIdentifier;
};

ClassState& classState() {
  static auto* state = new ClassState();  // never destroyed: fetchers may outlive static teardown
  return *state;
}

std::uint32_t drawRetryRandom() {
  auto& state = classState();
  std::function<std::uint32_t()> source;
  {
    std::lock_guard lock(state.mutex);
    if (!state.randomSource) return std::uniform_int_distribution<std::uint32_t>(0, 65534)(state.engine);
    source = state.randomSource;
  }
  return source() % 65535;
}

TimeInterval randomMinRetryInterval() { return 1.0 + drawRetryRandom() / 65535.0; }

bool isLocalhost(std::string_view host) {
  return asciiEqualIgnoringCase(host, "localhost") || host == "::1" || host == "127.0.0.1";
}

void consoleLog(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

std::string requestURLString(const std::shared_ptr<URLRequest>& request) {
  return request && request->url ? request->url->absoluteString() : "(missing URL)";
}

Value::Dictionary failingURLUserInfo(const std::shared_ptr<URLRequest>& request) {
  return {{NSURLErrorFailingURLStringErrorKey, requestURLString(request)}};
}

// The leading integer of a text, as the platform reads one: blanks, a sign, digits; 0 otherwise.
long long leadingIntegerValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX);
  }
  return negative ? -value : value;
}

}  // namespace

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

namespace {

// Same host (without regard to case) and port; a missing URL is never the same.
bool isSameOrigin(const std::optional<URL>& url, const URL& other) {
  return url && asciiEqualIgnoringCase(url->host().value_or(""), other.host().value_or("")) &&
         url->effectivePort() == other.effectivePort();
}

// The redirect URL with `scheme` in place of its own.
std::optional<URL> urlWithScheme(const URL& url, const std::string& scheme) {
  const std::string& text = url.absoluteString();
  const auto colon = text.find(':');
  if (colon == std::string::npos) return url;
  return URL::URLWithString(scheme + text.substr(colon));
}

// Not from the retry source: a test's fixed minimum interval must not make identifiers collide.
std::string makeUUIDString() {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::uint8_t bytes[16];
  {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    std::uniform_int_distribution<unsigned> distribution(0, 255);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(distribution(state.engine));
  }
  std::string text;
  for (int i = 0; i < 16; ++i) {
    unsigned byte = bytes[i];
    if (i == 6) byte = (byte & 0x0F) | 0x40;
    if (i == 8) byte = (byte & 0x3F) | 0x80;
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

nlohmann::json jsonFromValue(const Value& value) {
  if (auto s = value.asString()) return *s;
  if (auto b = value.asBool()) return *b;
  if (value.isInteger()) return *value.asInteger();
  if (value.isReal()) return *value.asReal();
  if (auto a = value.asArray()) {
    auto array = nlohmann::json::array();
    for (const auto& item : *a) array.push_back(jsonFromValue(item));
    return array;
  }
  if (auto d = value.asDictionary()) {
    auto object = nlohmann::json::object();
    for (const auto& [key, item] : *d) object[key] = jsonFromValue(item);
    return object;
  }
  if (value.isNull()) return nullptr;
  return value.description();
}

// The bytes of a stream, read in small pieces as a simulated upload would send them.
std::pair<Data, std::optional<NSError>> readWholeStream(const std::shared_ptr<InputStream>& stream) {
  Data body;
  if (!stream) return {body, std::nullopt};
  stream->open();
  std::uint8_t buffer[512];
  while (stream->hasBytesAvailable()) {
    const long n = stream->read(buffer, sizeof buffer);
    if (n <= 0) break;
    body.bytes.insert(body.bytes.end(), buffer, buffer + n);
  }
  stream->close();
  return {body, stream->streamError()};
}

// Reports `length` bytes in three steps or so: (chunk, so far, total).
void reportInChunks(std::int64_t length, const std::function<void(std::int64_t, std::int64_t, std::int64_t)>& report) {
  if (length < 1 || !report) return;
  const std::int64_t chunk = length / 3 + 1;
  for (std::int64_t sent = 0; sent < length;) {
    const std::int64_t piece = std::min(chunk, length - sent);
    sent += piece;
    report(piece, sent, length);
  }
}

// Leaves the callback group however the caller's block ends.
struct GroupLeaver {
  DispatchGroup group;
  ~GroupLeaver() { group.leave(); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithRequest(std::optional<URLRequest> request) {
  return initWithRequest(std::move(request));
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
  delegateQueue_ = DispatchQueue::main();
  minRetryInterval_ = randomMinRetryInterval();
  comment_ = "(No fetcher comment set)";
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

void ZSDK_ZTKSessionFetcher::beginFetchWithCompletionHandler(CompletionHandler handler) {
  {
    Lock lock(mutex_);
    // A fetcher whose earlier fetch released its callbacks answers a new caller on the main queue.
    if (!callbackQueue_) callbackQueue_ = DispatchQueue::main();
  }
  if (isFetching()) {
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
    return;
  }
  {
    Lock lock(mutex_);
    completionHandler_ = std::move(handler);
    userStoppedFetching_ = false;
  }
  beginFetchMayDelay(true, true);
}

void ZSDK_ZTKSessionFetcher::beginFetchMayDelay(bool mayDelay, bool mayAuthorize) {
  auto self = shared_from_this();
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::optional<NSError> failure;
  std::string scheme;
  bool restoring = false;
  bool canShare = false;
  std::shared_ptr<URLSession> session;
  {
    Lock lock(mutex_);
    // The running task answers the stored completion.
    if (sessionTask_) return;
    service = service_;
    const std::optional<URL> url = request_ ? request_->url : std::nullopt;
    scheme = url ? url->scheme().value_or("") : "";
    if (!url && !downloadResumeData_ && !sessionIdentifier_) {
      failure = NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorBeginFailed, failingURLUserInfo(request_));
    } else if (url && scheme != "data" && !asciiEqualIgnoringCase(scheme, "https")) {
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
      if (!allowed) {
        failure =
            NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorInsecureRequest, failingURLUserInfo(request_));
      }
    }
    if (!failure) {
      if (!cookieStorage_) cookieStorage_ = staticCookieStorage();
      restoring = sessionIdentifier_ && !request_;
      canShareSession_ = restoring ? false : !useBackgroundSession_;
      canShare = canShareSession_;
      session = session_;
    }
  }
  if (failure) {
    failToBeginFetchWithError(failure);
    return;
  }

  if (!session) {
    if (canShare && service) session = service->session();
    if (session) {
      Lock lock(mutex_);
      session_ = session;
    } else {
      URLSessionConfiguration configuration;
      ConfigurationBlock configurationBlock;
      std::shared_ptr<DispatchQueue> delegateQueue;
      {
        Lock lock(mutex_);
        if (!configuration_) {
          if (sessionIdentifier_ || useBackgroundSession_) {
            if (!sessionIdentifier_) createSessionIdentifierWithMetadata(std::nullopt);
            {
              auto& state = classState();
              std::lock_guard classLock(state.mutex);
              state.fetchersBySessionIdentifier[*sessionIdentifier_] = self;
            }
            configuration = URLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(*sessionIdentifier_);
            useBackgroundSession_ = true;
            canShareSession_ = false;
            canShare = false;
          } else {
            configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
          }
          configuration.tlsMinimumSupportedProtocol = SSLProtocol::kTLSProtocol12;
          configuration_ = configuration;
        }
        configuration_->httpCookieStorage = cookieStorage_;
        configuration = *configuration_;
        configurationBlock = configurationBlock_;
        delegateQueue = delegateQueue_;
      }
      if (configurationBlock) {
        configurationBlock(self, configuration);
        Lock lock(mutex_);
        configuration_ = configuration;
      }
      std::shared_ptr<URLSessionDelegate> delegate;
      if (canShare && service) delegate = service->sessionDelegate();
      if (!delegate) delegate = self;
      session = URLSession::sessionWithConfiguration(configuration, delegate, delegateQueue);
      {
        Lock lock(mutex_);
        session_ = session;
        shouldInvalidateSession_ = delegate == self;
      }
      if (service) service->fetcherDidCreateSession(self);
    }
  }

  if (restoring) {
    {
      Lock lock(mutex_);
      shouldInvalidateSession_ = true;
    }
    restoreBackgroundSessionTasks();
    return;
  }

  {
    Lock lock(mutex_);
    downloadedData_.reset();
    downloadedLength_ = 0;
    hasLoggedError_ = false;
    hasLogged_ = false;
  }

  if (mayDelay && service && !service->fetcherShouldBeginFetching(self)) {
    if (canShare) {
      Lock lock(mutex_);
      if (!shouldInvalidateSession_) session_.reset();
    }
    return;
  }

  const auto logging = ZSDK_ZTKSessionFetcher::logging();
  bool isGET = false;
  bool needsUploadTask = false;
  std::string effectiveMethod;
  std::shared_ptr<InputStream> streamToLog;
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<URLRequest> request;
  {
    Lock lock(mutex_);
    if (request_) {
      effectiveMethod = request_->valueForHTTPHeaderField("X-HTTP-Method-Override").value_or(request_->httpMethod);
    }
    isGET = effectiveMethod.empty() || effectiveMethod == "GET";
    needsUploadTask = useUploadTask_ || bodyFileURL_ || bodyStreamProvider_;
    const bool hasRequestStream = request_ && request_->httpBodyStream;
    if (bodyData_ || bodyStreamProvider_ || hasRequestStream) {
      if (isGET && request_) request_->httpMethod = "POST";
      if (bodyData_ && !needsUploadTask && request_) request_->httpBody = bodyData_;
      if (hasRequestStream && logging) streamToLog = request_->httpBodyStream;
      isGET = false;
    }
    authorizer = authorizer_;
    request = request_;
  }
  if (streamToLog) {
    auto logged = logging->loggedInputStreamForInputStream(*this, streamToLog);
    Lock lock(mutex_);
    if (request_) request_->httpBodyStream = std::move(logged);
  }

  bool signsRequest = false;
  {
    Lock lock(mutex_);
    signsRequest = !redirectedToOtherOrigin_;
  }
  if (mayAuthorize && authorizer && signsRequest && scheme != "data" && !authorizer->isAuthorizedRequest(request)) {
    if (canShare) {
      Lock lock(mutex_);
      if (!shouldInvalidateSession_) session_.reset();
    }
    authorizeRequest();
    return;
  }

  std::shared_ptr<URLSessionTask> task;
  bool useTestBlock = false;
  bool backgroundTaskWanted = false;
  bool stopped = false;
  {
    Lock lock(mutex_);
    if (isRetryEnabled_ && maxRetryInterval_ <= 0) {
      maxRetryInterval_ = (isGET || effectiveMethod == "HEAD") ? 60.0 : 600.0;
    }
    // A stop from another thread since the session was chosen has already cleaned up (and taken
    // an owned session with it).
    session = session_;
    stopped = userStoppedFetching_;
    if (!stopped && session) {
      const URLRequest taskRequest = request_ ? *request_ : URLRequest();
      if (downloadResumeData_) {
        task = session->downloadTaskWithResumeData(*downloadResumeData_);
      } else if (!destinationFileURL_ || scheme == "data") {
        if (needsUploadTask) {
          if (bodyFileURL_) {
            task = session->uploadTaskWithRequest(taskRequest, *bodyFileURL_);
          } else if (!bodyStreamProvider_) {
            task = session->uploadTaskWithRequest(taskRequest, bodyData_.value_or(Data()));
          } else {
            task = session->uploadTaskWithStreamedRequest(taskRequest);
          }
        } else {
          task = session->dataTaskWithRequest(taskRequest);
        }
        if (!accumulateDataBlock_) downloadedData_ = Data();
      } else {
        task = session->downloadTaskWithRequest(taskRequest);
      }
      if (taskDescription_) task->setTaskDescription(taskDescription_);
      sessionTask_ = task;

      if (!testBlock_) {
        auto& state = classState();
        std::lock_guard classLock(state.mutex);
        testBlock_ = state.globalTestBlock;
      }
      isUsingTestBlock_ = static_cast<bool>(testBlock_);
      useTestBlock = isUsingTestBlock_;
      backgroundTaskWanted = !useBackgroundSession_ && backgroundTaskIdentifier_ == UIBackgroundTaskInvalid;
      if (!initialRequestDate_) initialRequestDate_ = Date::now();
    }
  }
  if (stopped) return;
  if (!session) {
    failToBeginFetchWithError(std::nullopt);
    return;
  }

  if (backgroundTaskWanted) {
    std::weak_ptr<ZSDK_ZTKSessionFetcher> weakSelf = self;
    const auto identifier = UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weakSelf] {
      if (auto fetcher = weakSelf.lock()) fetcher->backgroundFetchExpired();
    });
    Lock lock(mutex_);
    backgroundTaskIdentifier_ = identifier;
  }

  sendStopNotificationIfNeeded();
  addPersistedBackgroundSessionToDefaults();
  {
    Lock lock(mutex_);
    isStopNotificationNeeded_ = true;
  }
  postNotification(kZTKSessionFetcherStartedNotification);
  if (service) service->fetcherDidBeginFetching(self);
  if (useTestBlock) {
    simulateFetchForTestBlock();
  } else {
    task->resume();
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
  auto self = shared_from_this();
  DispatchGroup group;
  {
    Lock lock(mutex_);
    group = callbackGroup_;
  }
  group.enter();
  queue->async([self, group, afterUserStopped, block = std::move(block)] {
    GroupLeaver leaver{group};
    bool stopped = false;
    {
      Lock lock(self->mutex_);
      stopped = self->userStoppedFetching_;
    }
    if (!stopped || afterUserStopped) block();
  });
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

void ZSDK_ZTKSessionFetcher::releaseCallbacks() {
  // Destroyed after the lock: a block's captures may call back into this fetcher.
  std::vector<std::any> dropped;
  Lock lock(mutex_);
  const auto drop = [&](auto& field) { dropped.emplace_back(std::exchange(field, nullptr)); };
  drop(callbackQueue_);
  drop(completionHandler_);
  drop(configurationBlock_);
  drop(didReceiveResponseBlock_);
  drop(willRedirectBlock_);
  drop(sendProgressBlock_);
  drop(receivedProgressBlock_);
  drop(downloadProgressBlock_);
  drop(accumulateDataBlock_);
  drop(willCacheURLResponseBlock_);
  drop(retryBlock_);
  drop(testBlock_);
  drop(resumeDataBlock_);
}

void ZSDK_ZTKSessionFetcher::postNotification(const char* name) {
  NotificationCenter::defaultCenter()->postNotificationName(name, shared_from_this());
}

void ZSDK_ZTKSessionFetcher::sendStopNotificationIfNeeded() {
  bool needed = false;
  {
    Lock lock(mutex_);
    needed = isStopNotificationNeeded_;
    isStopNotificationNeeded_ = false;
  }
  if (needed) postNotification(kZTKSessionFetcherStoppedNotification);
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
  const bool abandoned = std::any_of(abandonedTasks_.begin(), abandonedTasks_.end(), [&](const auto& weak) {
    return !weak.owner_before(task) && !task.owner_before(weak);
  });
  if (abandoned) return false;
  if (sessionTask_ && sessionTask_ != task) return false;
  sessionTask_ = task;
  if (!request_ && task) {
    if (auto original = task->originalRequest()) request_ = std::make_shared<URLRequest>(*original);
  }
  return true;
}

void ZSDK_ZTKSessionFetcher::forgetAbandonedTask(const std::shared_ptr<URLSessionTask>& task) {
  Lock lock(mutex_);
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
  if (!recordTask(dataTask)) {
    completionHandler(URLSessionResponseDisposition::Cancel);
    return;
  }
  DidReceiveResponseBlock block;
  {
    Lock lock(mutex_);
    block = didReceiveResponseBlock_;
  }
  if (!block) {
    applyDisposition(URLSessionResponseDisposition::Allow, completionHandler);
    return;
  }
  auto self = shared_from_this();
  invokeOnCallbackQueueAfterUserStopped(true, [self, block, response, completionHandler] {
    block(response, [self, completionHandler](URLSessionResponseDisposition disposition) {
      self->applyDisposition(disposition, completionHandler);
    });
  });
}

void ZSDK_ZTKSessionFetcher::applyDisposition(URLSessionResponseDisposition disposition,
                                              const ResponseCompletion& completionHandler) {
  AccumulateDataBlock accumulate;
  {
    Lock lock(mutex_);
    const std::int64_t buffered = downloadedLength_;
    if (downloadedData_) downloadedData_->bytes.clear();
    downloadedLength_ = 0;
    if (buffered >= 1 && disposition != URLSessionResponseDisposition::Cancel) accumulate = accumulateDataBlock_;
  }
  // The caller drops what it accumulated for an earlier response (a redirect or challenge hop).
  if (accumulate) invokeOnCallbackQueueUnlessStopped([accumulate] { accumulate(std::nullopt); });
  completionHandler(disposition);
}

void ZSDK_ZTKSessionFetcher::didReceiveData(const std::shared_ptr<URLSession>&,
                                            const std::shared_ptr<URLSessionDataTask>& dataTask, const Data& data) {
  if (data.empty() || !recordTask(dataTask)) return;
  AccumulateDataBlock accumulate;
  ReceivedProgressBlock progress;
  std::int64_t total = 0;
  {
    Lock lock(mutex_);
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
    invokeOnCallbackQueueUnlessStopped([accumulate, data] { accumulate(data); });
  } else if (progress) {
    const auto length = static_cast<std::int64_t>(data.size());
    invokeOnCallbackQueueUnlessStopped([progress, length, total] { progress(length, total); });
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

void ZSDK_ZTKSessionFetcher::needNewBodyStream(const std::shared_ptr<URLSession>&,
                                               const std::shared_ptr<URLSessionTask>& task,
                                               BodyStreamCompletion completionHandler) {
  if (!recordTask(task)) {
    completionHandler(nullptr);
    return;
  }
  BodyStreamProvider provider;
  {
    Lock lock(mutex_);
    provider = bodyStreamProvider_;
  }
  if (provider) {
    if (auto logging = ZSDK_ZTKSessionFetcher::logging()) {
      provider = logging->loggedStreamProviderForStreamProvider(*this, provider);
    }
  }
  if (!provider) {
    completionHandler(nullptr);
    return;
  }
  invokeOnCallbackQueueUnlessStopped([provider, completionHandler] { provider(completionHandler); });
}

void ZSDK_ZTKSessionFetcher::didBecomeDownloadTask(const std::shared_ptr<URLSession>&,
                                                   const std::shared_ptr<URLSessionDataTask>& dataTask,
                                                   const std::shared_ptr<URLSessionDownloadTask>& downloadTask) {
  Lock lock(mutex_);
  if (sessionTask_ == dataTask || !sessionTask_) sessionTask_ = downloadTask;
}

void ZSDK_ZTKSessionFetcher::didResumeAtOffset(const std::shared_ptr<URLSession>&,
                                               const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
                                               std::int64_t, std::int64_t) {
  recordTask(downloadTask);
}

void ZSDK_ZTKSessionFetcher::didWriteData(const std::shared_ptr<URLSession>&,
                                          const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
                                          std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                          std::int64_t totalBytesExpectedToWrite) {
  if (!recordTask(downloadTask)) return;
  DownloadProgressBlock progress;
  {
    Lock lock(mutex_);
    progress = downloadProgressBlock_;
  }
  if (!progress) return;
  // A known total below what already arrived is wrong; report it as unknown.
  if (totalBytesExpectedToWrite != NSURLSessionTransferSizeUnknown && totalBytesExpectedToWrite < totalBytesWritten) {
    totalBytesExpectedToWrite = NSURLSessionTransferSizeUnknown;
  }
  invokeOnCallbackQueueUnlessStopped([=] { progress(bytesWritten, totalBytesWritten, totalBytesExpectedToWrite); });
}

void ZSDK_ZTKSessionFetcher::didFinishDownloadingToURL(const std::shared_ptr<URLSession>&,
                                                       const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
                                                       const URL& location) {
  if (!recordTask(downloadTask)) return;
  const int status = statusCode();
  if (status < 200 || status > 399) return;
  namespace fs = std::filesystem;
  Lock lock(mutex_);
  std::error_code ec;
  const auto size = fs::file_size(location.path(), ec);
  if (!ec) downloadedLength_ = static_cast<std::int64_t>(size);
  if (!destinationFileURL_) return;
  const fs::path destination = destinationFileURL_->path();
  fs::remove(destination, ec);
  fs::rename(location.path(), destination, ec);
  if (ec) {
    // Another file system: copy instead of moving.
    ec.clear();
    fs::copy_file(location.path(), destination, fs::copy_options::overwrite_existing, ec);
  }
  if (ec) downloadMoveError_ = URLError(NSURLErrorCannotMoveFile, destinationFileURL_);
}

void ZSDK_ZTKSessionFetcher::didCompleteWithError(const std::shared_ptr<URLSession>&,
                                                  const std::shared_ptr<URLSessionTask>& task,
                                                  const std::optional<NSError>& error) {
  if (!recordTask(task)) {
    forgetAbandonedTask(task);
    return;
  }
  const int status = statusCode();
  std::optional<NSError> failure = error;
  bool retryAtResponseURL = false;
  {
    Lock lock(mutex_);
    if (!failure) failure = downloadMoveError_;
    if (!failure && status >= 0 && status < 300) {
      if (task) bodyLength_ = task->countOfBytesSent();
    } else if (status == 403 && useBackgroundSession_) {
      // A background session that was redirected loses its authorization: fetch the final URL.
      auto response = responseLocked();
      if (response && request_ && request_->url != response->url() &&
          request_->valueForHTTPHeaderField("Authorization")) {
        request_->url = response->url();
        retryAtResponseURL = true;
      }
    }
  }
  if (!failure && status >= 0 && status < 300) {
    finishWithError(std::nullopt, false);
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
  removePersistedBackgroundSessionFromDefaults();
  std::optional<Data> data;
  bool logFailure = false;
  bool deferLogging = false;
  ResumeDataBlock resumeBlock;
  std::optional<Data> resumeData;
  CompletionHandler handler;
  std::shared_ptr<DispatchQueue> queue;
  {
    Lock lock(mutex_);
    // A stop during the retry decision ends the fetch for good.
    if (userStoppedFetching_) shouldRetry = false;
    const int status = statusCode();
    deferLogging = deferResponseBodyLogging_;
    const bool failure = error || status < 0 || status > 299;
    if (failure) {
      if (!deferLogging && !hasLoggedError_) {
        logFailure = true;
        hasLoggedError_ = true;
      }
      if (shouldRetry) {
        // No callbacks now: the retry timer takes over.
      } else if (error) {
        const auto found = error->userInfo.find(NSURLSessionDownloadTaskResumeData);
        if (found != error->userInfo.end() && found->second.isData() && resumeDataBlock_) {
          resumeBlock = std::exchange(resumeDataBlock_, nullptr);
          resumeData = *found->second.asData();
        }
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
  }
  if (logFailure) logNowWithError(error);
  if (resumeBlock) invokeOnCallbackQueue(queue, true, [resumeBlock, resumeData] { resumeBlock(resumeData); });
  if (shouldRetry) beginRetryTimer();
  sendStopNotificationIfNeeded();
  if (!shouldRetry) {
    invokeOnCallbackQueue(queue, false, [handler, data, error] {
      if (handler) handler(data, error);
    });
    stopFetchReleasingCallbacks(shouldReleaseCallbacksUponCompletion());
  }
  bool logged = false;
  {
    Lock lock(mutex_);
    logged = hasLogged_;
  }
  if (!deferLogging && !logged) logNowWithError(error);
}

void ZSDK_ZTKSessionFetcher::stopFetching() {
  {
    Lock lock(mutex_);
    userStoppedFetching_ = true;
  }
  stopFetchReleasingCallbacks(true);
}

void ZSDK_ZTKSessionFetcher::stopFetchReleasingCallbacks(bool shouldReleaseCallbacks) {
  auto self = shared_from_this();
  removePersistedBackgroundSessionFromDefaults();
  destroyRetryTimer();

  std::shared_ptr<URLSessionTask> taskToCancel;
  std::shared_ptr<URLSession> sessionToInvalidate;
  ResumeDataBlock resumeBlock;
  std::shared_ptr<DispatchQueue> queue;
  DispatchGroup group;
  {
    Lock lock(mutex_);
    auto task = std::exchange(sessionTask_, nullptr);
    if (task && !isUsingTestBlock_) {
      if (auto response = task->response()) response_ = response;
    }
    if (task && task->state() != URLSessionTaskState::Completed) {
      taskToCancel = task;
      abandonedTasks_.push_back(task);
      if (resumeDataBlock_ && std::dynamic_pointer_cast<URLSessionDownloadTask>(task)) {
        resumeBlock = std::exchange(resumeDataBlock_, nullptr);
        queue = callbackQueue_;
        group = callbackGroup_;
      }
    }
    // An owned session goes now, even while a cancelled task has yet to report: the session keeps
    // this fetcher as its delegate until that late completion, so a fetcher still holding the
    // session would leak with it whenever the completion is never delivered (a delegate queue
    // that is dropped or no longer turning). The completion still reaches this fetcher, which
    // ignores it as abandoned.
    if (shouldInvalidateSession_ && session_) {
      sessionToInvalidate = std::exchange(session_, nullptr);
      shouldInvalidateSession_ = false;
    }
  }
  if (taskToCancel) {
    if (resumeBlock) {
      // The resume data reaches the caller even after a stop.
      group.enter();
      std::static_pointer_cast<URLSessionDownloadTask>(taskToCancel)
          ->cancelByProducingResumeData([resumeBlock, queue, group](std::optional<Data> resumeData) mutable {
            if (!queue) {
              group.leave();
              return;
            }
            queue->async([resumeBlock, resumeData, group] {
              GroupLeaver leaver{group};
              resumeBlock(resumeData);
            });
          });
    } else {
      taskToCancel->cancel();
    }
  }
  if (sessionToInvalidate) sessionToInvalidate->finishTasksAndInvalidate();

  sendStopNotificationIfNeeded();

  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<URLRequest> request;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  {
    Lock lock(mutex_);
    authorizer = authorizer_;
    request = request_;
    service = service_;
  }
  if (authorizer) authorizer->stopAuthorizationForRequest(request);
  if (shouldReleaseCallbacks) {
    releaseCallbacks();
    Lock lock(mutex_);
    authorizer_.reset();
  }
  if (service) service->fetcherDidStop(self);
  endBackgroundTask();
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
// Retry

void ZSDK_ZTKSessionFetcher::setRetryRandomSource(std::function<std::uint32_t()> source) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.randomSource = std::move(source);
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
  postNotification(kZTKSessionFetcherRetryDelayStartedNotification);
}

void ZSDK_ZTKSessionFetcher::destroyRetryTimer() {
  std::shared_ptr<Timer> timer;
  {
    Lock lock(mutex_);
    timer = std::exchange(retryTimer_, nullptr);
  }
  if (!timer) return;
  timer->invalidate();
  postNotification(kZTKSessionFetcherRetryDelayStoppedNotification);
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
      if (!block) {
        request_ = std::make_shared<URLRequest>(redirectRequest);
        if (!isSameOrigin(request_->url, current)) redirectedToOtherOrigin_ = true;
      }
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
  logNowWithError(std::nullopt);
  if (!block) {
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

// ---------------------------------------------------------------------------------------------
// Background sessions and simulated responses

void ZSDK_ZTKSessionFetcher::createSessionIdentifierWithMetadata(const std::optional<Value::Dictionary>& metadata) {
  Lock lock(mutex_);
  Value::Dictionary all = sessionUserInfo_.value_or(Value::Dictionary());
  if (metadata) all.insert(metadata->begin(), metadata->end());
  if (destinationFileURL_) all["_destURL"] = destinationFileURL_->absoluteString();
  if (bodyFileURL_) all["_bodyURL"] = bodyFileURL_->absoluteString();
  sessionIdentifierUUID_ = makeUUIDString();
  std::string identifier = std::string(kZTKSessionIdentifierPrefix) + "_" + *sessionIdentifierUUID_;
  if (!all.empty()) identifier += "_" + jsonFromValue(Value(all)).dump();
  sessionIdentifier_ = identifier;
  didCreateSessionIdentifier_ = true;
}

void ZSDK_ZTKSessionFetcher::forgetSessionIdentifierForFetcher() {
  Lock lock(mutex_);
  if (sessionIdentifier_) {
    auto& state = classState();
    std::lock_guard classLock(state.mutex);
    state.fetchersBySessionIdentifier.erase(*sessionIdentifier_);
  }
  sessionIdentifier_.reset();
  didCreateSessionIdentifier_ = false;
}

// Background fetches are not persisted across launches yet: nothing starts one in this program.
void ZSDK_ZTKSessionFetcher::addPersistedBackgroundSessionToDefaults() {}
void ZSDK_ZTKSessionFetcher::removePersistedBackgroundSessionFromDefaults() {}

void ZSDK_ZTKSessionFetcher::restoreBackgroundSessionTasks() {
  std::shared_ptr<URLSession> session = this->session();
  if (!session) return;
  auto self = shared_from_this();
  session->getTasksWithCompletionHandler([self](auto dataTasks, auto uploadTasks, auto downloadTasks) {
    if (!dataTasks.empty() || !uploadTasks.empty() || !downloadTasks.empty()) return;
    DispatchQueue::main()->after(1.0, [self] {
      {
        Lock lock(self->mutex_);
        if (self->sessionTask_ || self->request_) return;
      }
      self->removePersistedBackgroundSessionFromDefaults();
      self->failToBeginFetchWithError(
          NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorRestoredSessionWithoutTasks));
    });
  });
}

void ZSDK_ZTKSessionFetcher::simulateFetchForTestBlock() {
  auto self = shared_from_this();
  TestBlock block;
  {
    Lock lock(mutex_);
    block = testBlock_;
  }
  if (!block) return;
  block(self,
        [self](std::shared_ptr<const URLResponse> response, std::optional<Data> data, std::optional<NSError> error) {
          if (!response && !data && !error) {
            // "Use the network."
            std::shared_ptr<URLSessionTask> task;
            {
              Lock lock(self->mutex_);
              self->testBlock_ = nullptr;
              self->isUsingTestBlock_ = false;
              task = self->sessionTask_;
            }
            if (task) task->resume();
            return;
          }
          BodyStreamProvider provider;
          std::optional<URL> bodyFile;
          {
            Lock lock(self->mutex_);
            provider = self->bodyStreamProvider_;
            bodyFile = self->bodyFileURL_;
          }
          if (provider) {
            self->invokeOnCallbackQueueUnlessStopped([self, provider, response, data, error] {
              provider([self, response, data, error](std::shared_ptr<InputStream> stream) {
                auto [body, streamError] = readWholeStream(stream);
                {
                  Lock lock(self->mutex_);
                  self->bodyData_ = body;
                }
                self->simulateDataCallbacks(response, data, error ? error : streamError);
              });
            });
            return;
          }
          std::optional<NSError> readError;
          if (bodyFile) {
            std::ifstream in(bodyFile->path(), std::ios::binary);
            if (in) {
              Lock lock(self->mutex_);
              self->bodyData_ = Data(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
            } else {
              readError = URLError(NSURLErrorFileDoesNotExist, bodyFile);
            }
          }
          self->simulateDataCallbacks(response, data, readError ? readError : error);
        });
}

void ZSDK_ZTKSessionFetcher::simulateDataCallbacks(const std::shared_ptr<const URLResponse>& response,
                                                   const std::optional<Data>& data,
                                                   const std::optional<NSError>& error) {
  auto self = shared_from_this();
  WillRedirectBlock willRedirect;
  DidReceiveResponseBlock didReceiveResponse;
  SendProgressBlock sendProgress;
  DownloadProgressBlock downloadProgress;
  AccumulateDataBlock accumulate;
  ReceivedProgressBlock receivedProgress;
  WillCacheURLResponseBlock willCache;
  std::optional<URL> destination;
  std::int64_t bodyLength = 0;
  URLRequest request;
  {
    Lock lock(mutex_);
    willRedirect = willRedirectBlock_;
    didReceiveResponse = didReceiveResponseBlock_;
    sendProgress = sendProgressBlock_;
    downloadProgress = downloadProgressBlock_;
    accumulate = accumulateDataBlock_;
    receivedProgress = receivedProgressBlock_;
    willCache = willCacheURLResponseBlock_;
    destination = destinationFileURL_;
    bodyLength = bodyData_ ? static_cast<std::int64_t>(bodyData_->size()) : 0;
    if (request_) request = *request_;
  }
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
  std::optional<NSError> finalError = error;
  if (willRedirect && http) {
    invokeOnCallbackQueueAfterUserStopped(
        true, [willRedirect, http, request] { willRedirect(http, request, [](std::optional<URLRequest>) {}); });
  }
  if (didReceiveResponse) {
    invokeOnCallbackQueueAfterUserStopped(
        true, [didReceiveResponse, response] { didReceiveResponse(response, [](URLSessionResponseDisposition) {}); });
  }
  if (sendProgress) {
    reportInChunks(bodyLength, [&](std::int64_t chunk, std::int64_t sent, std::int64_t total) {
      invokeOnCallbackQueueUnlessStopped([=] { sendProgress(chunk, sent, total); });
    });
  }
  const Data body = data.value_or(Data());
  if (destination) {
    if (downloadProgress) {
      reportInChunks(static_cast<std::int64_t>(body.size()),
                     [&](std::int64_t chunk, std::int64_t sent, std::int64_t total) {
                       invokeOnCallbackQueueUnlessStopped([=] { downloadProgress(chunk, sent, total); });
                     });
    }
    if (data) {
      const std::string tmp = destination->path() + ".tmp";
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
      out.close();
      std::error_code ec;
      if (!out) ec = std::make_error_code(std::errc::io_error);
      if (!ec) std::filesystem::rename(tmp, destination->path(), ec);
      if (ec) finalError = URLError(NSURLErrorCannotWriteToFile, destination);
    }
  } else {
    if (accumulate) {
      if (data) invokeOnCallbackQueueUnlessStopped([accumulate, body] { accumulate(body); });
    } else {
      Lock lock(mutex_);
      downloadedData_ = data;
      downloadedLength_ = static_cast<std::int64_t>(body.size());
    }
    if (receivedProgress) {
      reportInChunks(static_cast<std::int64_t>(body.size()), [&](std::int64_t chunk, std::int64_t sent, std::int64_t) {
        invokeOnCallbackQueueUnlessStopped([=] { receivedProgress(chunk, sent); });
      });
    }
    if (willCache) {
      CachedURLResponse cached{response, body};
      invokeOnCallbackQueueAfterUserStopped(
          true, [willCache, cached] { willCache(cached, [](std::optional<CachedURLResponse>) {}); });
    }
  }
  {
    Lock lock(mutex_);
    response_ = response;
  }
  DispatchQueue::main()->async([self, finalError] {
    const int status = finalError ? static_cast<int>(finalError->code) : 200;
    self->shouldRetryNowForStatus(
        status, finalError, [self, finalError](bool shouldRetry) { self->finishWithError(finalError, shouldRetry); });
  });
}

void ZSDK_ZTKSessionFetcher::writeDownloadedDataToDestinationLocked() {
  if (!destinationFileURL_ || !downloadedData_ || downloadedData_->empty()) return;
  namespace fs = std::filesystem;
  const std::string path = destinationFileURL_->path();
  const std::string tmp = path + ".tmp";
  std::error_code ec;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(downloadedData_->data()),
              static_cast<std::streamsize>(downloadedData_->size()));
    if (!out) ec = std::make_error_code(std::errc::io_error);
  }
  if (!ec) {
    fs::remove(path, ec);
    ec.clear();
    fs::rename(tmp, path, ec);
  }
  if (ec) {
    downloadMoveError_ = URLError(NSURLErrorCannotWriteToFile, destinationFileURL_);
  } else {
    downloadedData_.reset();
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
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response());
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
}

void ZSDK_ZTKSessionFetcher::setLogging(std::shared_ptr<ZTKSessionFetcherLogging> logging) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.logging = std::move(logging);
}

std::shared_ptr<ZTKSessionFetcherLogging> ZSDK_ZTKSessionFetcher::logging() {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  return state.logging;
}

// ---------------------------------------------------------------------------------------------
// Properties

std::optional<Data> ZSDK_ZTKSessionFetcher::downloadedData() const { return locked(downloadedData_); }
std::int64_t ZSDK_ZTKSessionFetcher::downloadedLength() const { return locked(downloadedLength_); }
std::shared_ptr<URLRequest> ZSDK_ZTKSessionFetcher::mutableRequest() const { return locked(request_); }
void ZSDK_ZTKSessionFetcher::setMutableRequest(std::shared_ptr<URLRequest> request) {
  Lock lock(mutex_);
  request_ = std::move(request);
  redirectedToOtherOrigin_ = false;
}
std::shared_ptr<URLSession> ZSDK_ZTKSessionFetcher::session() const { return locked(session_); }
void ZSDK_ZTKSessionFetcher::setSession(std::shared_ptr<URLSession> session) {
  Lock lock(mutex_);
  if (session_ != session) {
    session_ = std::move(session);
    shouldInvalidateSession_ = session_ != nullptr;
  }
}
std::optional<URLSessionConfiguration> ZSDK_ZTKSessionFetcher::configuration() const { return locked(configuration_); }
void ZSDK_ZTKSessionFetcher::setConfiguration(std::optional<URLSessionConfiguration> configuration) {
  assignLocked(configuration_, std::move(configuration));
}
ZSDK_ZTKSessionFetcher::ConfigurationBlock ZSDK_ZTKSessionFetcher::configurationBlock() const {
  return locked(configurationBlock_);
}
void ZSDK_ZTKSessionFetcher::setConfigurationBlock(ConfigurationBlock block) {
  assignLocked(configurationBlock_, std::move(block));
}
std::shared_ptr<URLSessionTask> ZSDK_ZTKSessionFetcher::sessionTask() const { return locked(sessionTask_); }
std::optional<std::string> ZSDK_ZTKSessionFetcher::taskDescription() const { return locked(taskDescription_); }
void ZSDK_ZTKSessionFetcher::setTaskDescription(std::optional<std::string> description) {
  assignLocked(taskDescription_, std::move(description));
}
bool ZSDK_ZTKSessionFetcher::canShareSession() const { return locked(canShareSession_); }
void ZSDK_ZTKSessionFetcher::setCanShareSession(bool flag) { assignLocked(canShareSession_, flag); }
bool ZSDK_ZTKSessionFetcher::useUploadTask() const { return locked(useUploadTask_); }
void ZSDK_ZTKSessionFetcher::setUseUploadTask(bool flag) { assignLocked(useUploadTask_, flag); }
bool ZSDK_ZTKSessionFetcher::allowLocalhostRequest() const { return locked(allowLocalhostRequest_); }
void ZSDK_ZTKSessionFetcher::setAllowLocalhostRequest(bool flag) { assignLocked(allowLocalhostRequest_, flag); }
bool ZSDK_ZTKSessionFetcher::allowInvalidServerCertificates() const { return locked(allowInvalidServerCertificates_); }
void ZSDK_ZTKSessionFetcher::setAllowInvalidServerCertificates(bool flag) {
  assignLocked(allowInvalidServerCertificates_, flag);
}
std::vector<std::string> ZSDK_ZTKSessionFetcher::allowedInsecureSchemes() const {
  return locked(allowedInsecureSchemes_);
}
void ZSDK_ZTKSessionFetcher::setAllowedInsecureSchemes(std::vector<std::string> schemes) {
  assignLocked(allowedInsecureSchemes_, std::move(schemes));
}
std::shared_ptr<DispatchQueue> ZSDK_ZTKSessionFetcher::delegateQueue() const { return locked(delegateQueue_); }
void ZSDK_ZTKSessionFetcher::setDelegateQueue(std::shared_ptr<DispatchQueue> queue) {
  assignLocked(delegateQueue_, std::move(queue));
}
std::optional<Data> ZSDK_ZTKSessionFetcher::bodyData() const { return locked(bodyData_); }
void ZSDK_ZTKSessionFetcher::setBodyData(std::optional<Data> data) { assignLocked(bodyData_, std::move(data)); }
std::optional<URL> ZSDK_ZTKSessionFetcher::bodyFileURL() const { return locked(bodyFileURL_); }
void ZSDK_ZTKSessionFetcher::setBodyFileURL(std::optional<URL> url) { assignLocked(bodyFileURL_, std::move(url)); }
ZSDK_ZTKSessionFetcher::BodyStreamProvider ZSDK_ZTKSessionFetcher::bodyStreamProvider() const {
  return locked(bodyStreamProvider_);
}
void ZSDK_ZTKSessionFetcher::setBodyStreamProvider(BodyStreamProvider provider) {
  assignLocked(bodyStreamProvider_, std::move(provider));
}
std::shared_ptr<DispatchQueue> ZSDK_ZTKSessionFetcher::callbackQueue() const { return locked(callbackQueue_); }
void ZSDK_ZTKSessionFetcher::setCallbackQueue(std::shared_ptr<DispatchQueue> queue) {
  assignLocked(callbackQueue_, std::move(queue));
}
DispatchGroup ZSDK_ZTKSessionFetcher::callbackGroup() const { return locked(callbackGroup_); }
ZSDK_ZTKSessionFetcher::CompletionHandler ZSDK_ZTKSessionFetcher::completionHandler() const {
  return locked(completionHandler_);
}
void ZSDK_ZTKSessionFetcher::setCompletionHandler(CompletionHandler handler) {
  assignLocked(completionHandler_, std::move(handler));
}
ZSDK_ZTKSessionFetcher::AccumulateDataBlock ZSDK_ZTKSessionFetcher::accumulateDataBlock() const {
  return locked(accumulateDataBlock_);
}
void ZSDK_ZTKSessionFetcher::setAccumulateDataBlock(AccumulateDataBlock block) {
  assignLocked(accumulateDataBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::ReceivedProgressBlock ZSDK_ZTKSessionFetcher::receivedProgressBlock() const {
  return locked(receivedProgressBlock_);
}
void ZSDK_ZTKSessionFetcher::setReceivedProgressBlock(ReceivedProgressBlock block) {
  assignLocked(receivedProgressBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::DownloadProgressBlock ZSDK_ZTKSessionFetcher::downloadProgressBlock() const {
  return locked(downloadProgressBlock_);
}
void ZSDK_ZTKSessionFetcher::setDownloadProgressBlock(DownloadProgressBlock block) {
  assignLocked(downloadProgressBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::SendProgressBlock ZSDK_ZTKSessionFetcher::sendProgressBlock() const {
  return locked(sendProgressBlock_);
}
void ZSDK_ZTKSessionFetcher::setSendProgressBlock(SendProgressBlock block) {
  assignLocked(sendProgressBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::ResumeDataBlock ZSDK_ZTKSessionFetcher::resumeDataBlock() const {
  return locked(resumeDataBlock_);
}
void ZSDK_ZTKSessionFetcher::setResumeDataBlock(ResumeDataBlock block) {
  assignLocked(resumeDataBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::DidReceiveResponseBlock ZSDK_ZTKSessionFetcher::didReceiveResponseBlock() const {
  return locked(didReceiveResponseBlock_);
}
void ZSDK_ZTKSessionFetcher::setDidReceiveResponseBlock(DidReceiveResponseBlock block) {
  assignLocked(didReceiveResponseBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::WillRedirectBlock ZSDK_ZTKSessionFetcher::willRedirectBlock() const {
  return locked(willRedirectBlock_);
}
void ZSDK_ZTKSessionFetcher::setWillRedirectBlock(WillRedirectBlock block) {
  assignLocked(willRedirectBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::WillCacheURLResponseBlock ZSDK_ZTKSessionFetcher::willCacheURLResponseBlock() const {
  return locked(willCacheURLResponseBlock_);
}
void ZSDK_ZTKSessionFetcher::setWillCacheURLResponseBlock(WillCacheURLResponseBlock block) {
  assignLocked(willCacheURLResponseBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::RetryBlock ZSDK_ZTKSessionFetcher::retryBlock() const { return locked(retryBlock_); }
void ZSDK_ZTKSessionFetcher::setRetryBlock(RetryBlock block) { assignLocked(retryBlock_, std::move(block)); }
ZSDK_ZTKSessionFetcher::TestBlock ZSDK_ZTKSessionFetcher::testBlock() const { return locked(testBlock_); }
void ZSDK_ZTKSessionFetcher::setTestBlock(TestBlock block) { assignLocked(testBlock_, std::move(block)); }
bool ZSDK_ZTKSessionFetcher::isUsingTestBlock() const { return locked(isUsingTestBlock_); }
std::shared_ptr<ZTKFetcherAuthorizationProtocol> ZSDK_ZTKSessionFetcher::authorizer() const {
  return locked(authorizer_);
}
void ZSDK_ZTKSessionFetcher::setAuthorizer(std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer) {
  assignLocked(authorizer_, std::move(authorizer));
}
std::shared_ptr<ZTKSessionFetcherServiceProtocol> ZSDK_ZTKSessionFetcher::service() const { return locked(service_); }
void ZSDK_ZTKSessionFetcher::setService(std::shared_ptr<ZTKSessionFetcherServiceProtocol> service) {
  assignLocked(service_, std::move(service));
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::serviceHost() const { return locked(serviceHost_); }
void ZSDK_ZTKSessionFetcher::setServiceHost(std::optional<std::string> host) {
  assignLocked(serviceHost_, std::move(host));
}
std::int64_t ZSDK_ZTKSessionFetcher::servicePriority() const { return locked(servicePriority_); }
void ZSDK_ZTKSessionFetcher::setServicePriority(std::int64_t priority) { assignLocked(servicePriority_, priority); }
std::optional<URLCredential> ZSDK_ZTKSessionFetcher::credential() const { return locked(credential_); }
void ZSDK_ZTKSessionFetcher::setCredential(std::optional<URLCredential> credential) {
  assignLocked(credential_, std::move(credential));
}
std::optional<URLCredential> ZSDK_ZTKSessionFetcher::proxyCredential() const { return locked(proxyCredential_); }
void ZSDK_ZTKSessionFetcher::setProxyCredential(std::optional<URLCredential> credential) {
  assignLocked(proxyCredential_, std::move(credential));
}
std::shared_ptr<HTTPCookieStorage> ZSDK_ZTKSessionFetcher::cookieStorage() const { return locked(cookieStorage_); }
void ZSDK_ZTKSessionFetcher::setCookieStorage(std::shared_ptr<HTTPCookieStorage> storage) {
  assignLocked(cookieStorage_, std::move(storage));
}
std::any ZSDK_ZTKSessionFetcher::userData() const { return locked(userData_); }
void ZSDK_ZTKSessionFetcher::setUserData(std::any userData) { assignLocked(userData_, std::move(userData)); }
ZSDK_ZTKSessionFetcher::Properties ZSDK_ZTKSessionFetcher::properties() const {
  Lock lock(mutex_);
  return properties_.value_or(Properties());
}
void ZSDK_ZTKSessionFetcher::setProperties(Properties properties) { assignLocked(properties_, std::move(properties)); }
void ZSDK_ZTKSessionFetcher::setProperty(std::any value, const std::string& key) {
  Lock lock(mutex_);
  if (!value.has_value()) {
    if (properties_) properties_->erase(key);
    return;
  }
  if (!properties_) properties_.emplace();
  (*properties_)[key] = std::move(value);
}
std::any ZSDK_ZTKSessionFetcher::propertyForKey(const std::string& key) const {
  Lock lock(mutex_);
  if (!properties_) return {};
  auto it = properties_->find(key);
  return it == properties_->end() ? std::any() : it->second;
}
void ZSDK_ZTKSessionFetcher::addPropertiesFromDictionary(const Properties& properties) {
  Lock lock(mutex_);
  if (!properties_) {
    properties_ = properties;
    return;
  }
  for (const auto& [key, value] : properties) (*properties_)[key] = value;
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::comment() const { return locked(comment_); }
void ZSDK_ZTKSessionFetcher::setComment(std::optional<std::string> comment) {
  assignLocked(comment_, std::move(comment));
}
bool ZSDK_ZTKSessionFetcher::userStoppedFetching() const { return locked(userStoppedFetching_); }
Date ZSDK_ZTKSessionFetcher::initialRequestDate() const {
  Lock lock(mutex_);
  return initialRequestDate_.value_or(Date{});
}
bool ZSDK_ZTKSessionFetcher::isRetryEnabled() const { return locked(isRetryEnabled_); }
void ZSDK_ZTKSessionFetcher::setRetryEnabled(bool flag) {
  Lock lock(mutex_);
  if (flag && !isRetryEnabled_) {
    setMinRetryInterval(0.0);
    setMaxRetryInterval(-1.0);
    setRetryFactor(2.0);
    lastRetryInterval_ = 0.0;
  }
  isRetryEnabled_ = flag;
}
TimeInterval ZSDK_ZTKSessionFetcher::maxRetryInterval() const { return locked(maxRetryInterval_); }
void ZSDK_ZTKSessionFetcher::setMaxRetryInterval(TimeInterval seconds) {
  assignLocked(maxRetryInterval_, seconds > 0 ? seconds : -1.0);
}
TimeInterval ZSDK_ZTKSessionFetcher::minRetryInterval() const { return locked(minRetryInterval_); }
void ZSDK_ZTKSessionFetcher::setMinRetryInterval(TimeInterval seconds) {
  const TimeInterval value = seconds > 0 ? seconds : randomMinRetryInterval();
  Lock lock(mutex_);
  minRetryInterval_ = value;
}
double ZSDK_ZTKSessionFetcher::retryFactor() const { return locked(retryFactor_); }
void ZSDK_ZTKSessionFetcher::setRetryFactor(double factor) { assignLocked(retryFactor_, factor); }
std::uint64_t ZSDK_ZTKSessionFetcher::retryCount() const { return locked(retryCount_); }
std::shared_ptr<Timer> ZSDK_ZTKSessionFetcher::retryTimer() const { return locked(retryTimer_); }
std::optional<std::string> ZSDK_ZTKSessionFetcher::sessionIdentifier() const { return locked(sessionIdentifier_); }
void ZSDK_ZTKSessionFetcher::setSessionIdentifier(std::optional<std::string> identifier) {
  Lock lock(mutex_);
  sessionIdentifier_ = std::move(identifier);
  useBackgroundSession_ = true;
  canShareSession_ = false;
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::sessionIdentifierUUID() const {
  return locked(sessionIdentifierUUID_);
}
bool ZSDK_ZTKSessionFetcher::useBackgroundSession() const { return locked(useBackgroundSession_); }
void ZSDK_ZTKSessionFetcher::setUseBackgroundSession(bool flag) { assignLocked(useBackgroundSession_, flag); }
std::optional<Value::Dictionary> ZSDK_ZTKSessionFetcher::sessionUserInfo() const { return locked(sessionUserInfo_); }
void ZSDK_ZTKSessionFetcher::setSessionUserInfo(std::optional<Value::Dictionary> userInfo) {
  assignLocked(sessionUserInfo_, std::move(userInfo));
}
std::optional<URL> ZSDK_ZTKSessionFetcher::destinationFileURL() const { return locked(destinationFileURL_); }
void ZSDK_ZTKSessionFetcher::setDestinationFileURL(std::optional<URL> url) {
  Lock lock(mutex_);
  if (destinationFileURL_ != url) destinationFileURL_ = std::move(url);
}
std::optional<Data> ZSDK_ZTKSessionFetcher::downloadResumeData() const { return locked(downloadResumeData_); }
void ZSDK_ZTKSessionFetcher::setDownloadResumeData(std::optional<Data> data) {
  assignLocked(downloadResumeData_, std::move(data));
}
std::optional<NSError> ZSDK_ZTKSessionFetcher::downloadMoveError() const { return locked(downloadMoveError_); }
std::optional<std::string> ZSDK_ZTKSessionFetcher::log() const { return locked(log_); }
void ZSDK_ZTKSessionFetcher::setLog(std::optional<std::string> log) { assignLocked(log_, std::move(log)); }
std::optional<Data> ZSDK_ZTKSessionFetcher::loggedStreamData() const { return locked(loggedStreamData_); }
void ZSDK_ZTKSessionFetcher::setLoggedStreamData(std::optional<Data> data) {
  assignLocked(loggedStreamData_, std::move(data));
}
std::optional<URL> ZSDK_ZTKSessionFetcher::redirectedFromURL() const { return locked(redirectedFromURL_); }
void ZSDK_ZTKSessionFetcher::setRedirectedFromURL(std::optional<URL> url) {
  assignLocked(redirectedFromURL_, std::move(url));
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::logRequestBody() const { return locked(logRequestBody_); }
void ZSDK_ZTKSessionFetcher::setLogRequestBody(std::optional<std::string> body) {
  assignLocked(logRequestBody_, std::move(body));
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::logResponseBody() const { return locked(logResponseBody_); }
void ZSDK_ZTKSessionFetcher::setLogResponseBody(std::optional<std::string> body) {
  assignLocked(logResponseBody_, std::move(body));
}
bool ZSDK_ZTKSessionFetcher::hasLoggedError() const { return locked(hasLoggedError_); }
bool ZSDK_ZTKSessionFetcher::deferResponseBodyLogging() const { return locked(deferResponseBodyLogging_); }
void ZSDK_ZTKSessionFetcher::setDeferResponseBodyLogging(bool flag) {
  std::shared_ptr<DispatchQueue> queue;
  {
    Lock lock(mutex_);
    if (flag == deferResponseBodyLogging_) return;
    deferResponseBodyLogging_ = flag;
    if (!flag && !hasLogged_) queue = delegateQueue_;
  }
  // Logging was held back for the body; the body is complete now.
  if (queue) {
    auto self = shared_from_this();
    queue->async([self] { self->logNowWithError(std::nullopt); });
  }
}
