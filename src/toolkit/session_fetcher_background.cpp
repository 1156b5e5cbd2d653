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

#include "platform/foundation/class_registry.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

namespace {

namespace fs = std::filesystem;

// A file beside `destination`, so that the final rename stays on one file system.
fs::path siblingTempPath(const fs::path& destination) {
  return destination.parent_path() / (destination.filename().string() + "." + makeUUIDString() + ".part");
}

// Puts `bytes` at `destination` in one rename: the old file stays until the new one is complete.
std::error_code writeAtomically(const Data& bytes, const fs::path& destination) {
  const fs::path tmp = siblingTempPath(destination);
  std::error_code ec;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ec = std::make_error_code(std::errc::io_error);
  }
  if (!ec) fs::rename(tmp, destination, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
  }
  return ec;
}

// Moves `source` over `destination`; across file systems it is copied beside the destination first.
std::error_code moveAtomically(const fs::path& source, const fs::path& destination) {
  std::error_code ec;
  fs::rename(source, destination, ec);
  if (ec != std::errc::cross_device_link) return ec;
  const fs::path tmp = siblingTempPath(destination);
  ec.clear();
  fs::copy_file(source, tmp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(tmp, destination, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
  }
  return ec;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Downloads and uploads

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
  Lock lock(mutex_);
  std::error_code ec;
  const auto size = fs::file_size(location.path(), ec);
  if (!ec) downloadedLength_ = static_cast<std::int64_t>(size);
  if (!destinationFileURL_) return;
  ec = moveAtomically(location.path(), destinationFileURL_->path());
  if (ec) downloadMoveError_ = URLError(NSURLErrorCannotMoveFile, destinationFileURL_);
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

namespace {

std::vector<std::string> persistedIdentifiers() {
  std::vector<std::string> identifiers;
  const auto stored =
      ZSDK_ZTKSessionFetcher::fetcherUserDefaults()->arrayForKey(kZTKSessionFetcherPersistedSessionsKey);
  for (const auto& item : stored.value_or(Value::Array())) {
    if (const auto* text = item.asString()) identifiers.push_back(*text);
  }
  return identifiers;
}

void storeIdentifiers(const std::vector<std::string>& identifiers) {
  const auto defaults = ZSDK_ZTKSessionFetcher::fetcherUserDefaults();
  if (identifiers.empty()) {
    defaults->removeObjectForKey(kZTKSessionFetcherPersistedSessionsKey);
  } else {
    defaults->setObject(Value(Value::Array(identifiers.begin(), identifiers.end())),
                        kZTKSessionFetcherPersistedSessionsKey);
  }
  defaults->synchronize();
}

}  // namespace

std::shared_ptr<UserDefaults> ZSDK_ZTKSessionFetcher::fetcherUserDefaults() {
  auto& state = classState();
  {
    std::lock_guard lock(state.mutex);
    if (state.injectedUserDefaults) return state.injectedUserDefaults;
    if (state.userDefaults) return state.userDefaults;
  }
  // Outside the lock: the factory is a caller's code.
  std::shared_ptr<UserDefaults> defaults;
  const auto factory = ClassRegistry::shared().lookup<ZTKSessionFetcherUserDefaultsFactory>(
      "ZTKSessionFetcherUserDefaultsFactory", kZTKClassPrefix);
  if (const auto instance = factory ? factory() : nullptr) defaults = instance->fetcherUserDefaults();
  if (!defaults) defaults = UserDefaults::standard();
  std::lock_guard lock(state.mutex);
  if (!state.userDefaults) state.userDefaults = std::move(defaults);  // a racing first call may have decided
  return state.injectedUserDefaults ? state.injectedUserDefaults : state.userDefaults;
}

void ZSDK_ZTKSessionFetcher::setFetcherUserDefaults(std::shared_ptr<UserDefaults> defaults) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.injectedUserDefaults = std::move(defaults);
}

std::optional<std::vector<std::string>> ZSDK_ZTKSessionFetcher::activePersistedBackgroundSessions() {
  std::vector<std::string> active;
  for (const auto& identifier : persistedIdentifiers()) {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    const auto found = state.fetchersBySessionIdentifier.find(identifier);
    if (found != state.fetchersBySessionIdentifier.end() && !found->second.expired()) active.push_back(identifier);
  }
  if (active.empty()) return std::nullopt;
  return active;
}

void ZSDK_ZTKSessionFetcher::addPersistedBackgroundSessionToDefaults() {
  const auto identifier = sessionIdentifier();
  if (!identifier) return;
  auto active = activePersistedBackgroundSessions().value_or(std::vector<std::string>());
  if (std::find(active.begin(), active.end(), *identifier) != active.end()) return;
  // Identifiers without a live fetcher are dropped here.
  active.push_back(*identifier);
  storeIdentifiers(active);
}

void ZSDK_ZTKSessionFetcher::removePersistedBackgroundSessionFromDefaults() {
  const auto identifier = sessionIdentifier();
  if (!identifier) return;
  auto active = activePersistedBackgroundSessions();
  if (!active) return;
  const auto found = std::find(active->begin(), active->end(), *identifier);
  if (found == active->end()) return;
  active->erase(found);
  storeIdentifiers(*active);
}

ZSDK_ZTKSessionFetcher::SystemCompletionHandler ZSDK_ZTKSessionFetcher::systemCompletionHandlerForSessionIdentifier(
    const std::string& identifier) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  const auto found = state.systemCompletionHandlers.find(identifier);
  return found == state.systemCompletionHandlers.end() ? nullptr : found->second;
}

void ZSDK_ZTKSessionFetcher::setSystemCompletionHandlerForSessionIdentifier(SystemCompletionHandler handler,
                                                                            const std::string& identifier) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  if (handler) {
    state.systemCompletionHandlers[identifier] = std::move(handler);
  } else {
    state.systemCompletionHandlers.erase(identifier);
  }
}

ZSDK_ZTKSessionFetcher::SystemCompletionHandler ZSDK_ZTKSessionFetcher::systemCompletionHandler() const {
  const auto identifier = sessionIdentifier();
  return identifier ? systemCompletionHandlerForSessionIdentifier(*identifier) : nullptr;
}

void ZSDK_ZTKSessionFetcher::setSystemCompletionHandler(SystemCompletionHandler handler) {
  if (const auto identifier = sessionIdentifier())
    setSystemCompletionHandlerForSessionIdentifier(std::move(handler), *identifier);
}

void ZSDK_ZTKSessionFetcher::applicationHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                                            SystemCompletionHandler completionHandler) {
  if (auto fetcher = fetcherWithSessionIdentifier(identifier)) fetcher->setSystemCompletionHandler(completionHandler);
}

void ZSDK_ZTKSessionFetcher::didFinishEventsForBackgroundURLSession(const std::shared_ptr<URLSession>&) {
  removePersistedBackgroundSessionFromDefaults();
  const auto handler = systemCompletionHandler();
  setSystemCompletionHandler(nullptr);
  if (!handler) return;
  handler();
  std::shared_ptr<URLSession> owned;
  {
    Lock lock(mutex_);
    if (shouldInvalidateSession_) owned = std::move(session_);
    session_.reset();
    shouldInvalidateSession_ = false;
  }
  if (owned) owned->finishTasksAndInvalidate();
}

std::optional<Value::Dictionary> ZSDK_ZTKSessionFetcher::sessionIdentifierMetadata() {
  Lock lock(mutex_);
  if (!sessionIdentifier_) return std::nullopt;
  // prefix "_" UUID "_" JSON (up to a newline)
  const std::string& text = *sessionIdentifier_;
  const auto first = text.find('_');
  if (first == std::string::npos || first == 0) return std::nullopt;
  const auto second = text.find('_', first + 1);
  if (second == std::string::npos || second == first + 1) return std::nullopt;
  const std::string json = text.substr(second + 1, text.find('\n', second + 1) - second - 1);
  if (json.empty()) return std::nullopt;
  const auto parsed = Value::fromJSON(json);
  const auto* dictionary = parsed ? parsed->asDictionary() : nullptr;
  if (!dictionary) return std::nullopt;
  sessionIdentifierUUID_ = text.substr(first + 1, second - first - 1);
  return *dictionary;
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithDownloadResumeData(Data resumeData) {
  auto fetcher = fetcherWithRequest(std::nullopt);
  fetcher->setComment("Resuming download");
  fetcher->setDownloadResumeData(std::move(resumeData));
  return fetcher;
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithSessionIdentifier(
    const std::string& identifier) {
  {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    const auto found = state.fetchersBySessionIdentifier.find(identifier);
    if (found != state.fetchersBySessionIdentifier.end()) {
      if (auto live = found->second.lock()) return live;
    }
  }
  if (identifier.rfind(kZTKSessionIdentifierPrefix, 0) != 0) return nullptr;
  auto fetcher = fetcherWithRequest(std::nullopt);
  fetcher->setSessionIdentifier(identifier);
  {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    state.fetchersBySessionIdentifier[identifier] = fetcher;
  }
  fetcher->setComment("Resuming " + fetcher->sessionIdentifierUUID().value_or("?"));
  return fetcher;
}

std::vector<std::shared_ptr<ZSDK_ZTKSessionFetcher>> ZSDK_ZTKSessionFetcher::fetchersForBackgroundSessions() {
  std::vector<std::shared_ptr<ZSDK_ZTKSessionFetcher>> fetchers;
  for (const auto& identifier : persistedIdentifiers()) {
    std::shared_ptr<ZSDK_ZTKSessionFetcher> live;
    {
      auto& state = classState();
      std::lock_guard lock(state.mutex);
      const auto found = state.fetchersBySessionIdentifier.find(identifier);
      if (found != state.fetchersBySessionIdentifier.end()) live = found->second.lock();
    }
    if (!live) {
      live = fetcherWithSessionIdentifier(identifier);
      if (live) live->beginFetchWithCompletionHandler(nullptr);
    }
    if (live) fetchers.push_back(live);
  }
  return fetchers;
}

void ZSDK_ZTKSessionFetcher::restoreBackgroundSessionTasks() {
  std::shared_ptr<URLSession> session = this->session();
  if (!session) return;
  auto self = shared_from_this();
  session->getTasksWithCompletionHandler([self](auto dataTasks, auto uploadTasks, auto downloadTasks) {
    // A task still running in this process: the fetcher is fetching from now on, not only from
    // its first callback on.
    std::shared_ptr<URLSessionTask> running;
    if (!downloadTasks.empty()) running = downloadTasks.front();
    if (!uploadTasks.empty()) running = uploadTasks.front();
    if (!dataTasks.empty()) running = dataTasks.front();
    if (running) {
      self->recordTask(running);
      return;
    }
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

// The caller's blocks a simulated fetch reports to, taken together under the lock.
struct ZSDK_ZTKSessionFetcher::SimulatedCallbacks {
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
};

void ZSDK_ZTKSessionFetcher::simulateDataCallbacks(const std::shared_ptr<const URLResponse>& response,
                                                   const std::optional<Data>& data,
                                                   const std::optional<NSError>& error) {
  auto self = shared_from_this();
  const SimulatedCallbacks callbacks = simulatedCallbacks();
  simulateResponseCallbacks(callbacks, response);
  std::optional<NSError> finalError = error;
  if (callbacks.destination) {
    if (auto writeError = simulateDownload(callbacks, data)) finalError = writeError;
  } else {
    simulateDataArrival(callbacks, response, data);
  }
  assignLocked(response_, response);
  DispatchQueue::main()->async([self, finalError] {
    const int status = finalError ? static_cast<int>(finalError->code) : 200;
    self->shouldRetryNowForStatus(
        status, finalError, [self, finalError](bool shouldRetry) { self->finishWithError(finalError, shouldRetry); });
  });
}

ZSDK_ZTKSessionFetcher::SimulatedCallbacks ZSDK_ZTKSessionFetcher::simulatedCallbacks() {
  SimulatedCallbacks callbacks;
  Lock lock(mutex_);
  callbacks.willRedirect = willRedirectBlock_;
  callbacks.didReceiveResponse = didReceiveResponseBlock_;
  callbacks.sendProgress = sendProgressBlock_;
  callbacks.downloadProgress = downloadProgressBlock_;
  callbacks.accumulate = accumulateDataBlock_;
  callbacks.receivedProgress = receivedProgressBlock_;
  callbacks.willCache = willCacheURLResponseBlock_;
  callbacks.destination = destinationFileURL_;
  callbacks.bodyLength = bodyData_ ? static_cast<std::int64_t>(bodyData_->size()) : 0;
  if (request_) callbacks.request = *request_;
  return callbacks;
}

void ZSDK_ZTKSessionFetcher::simulateResponseCallbacks(const SimulatedCallbacks& callbacks,
                                                       const std::shared_ptr<const URLResponse>& response) {
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
  if (callbacks.willRedirect && http) {
    invokeOnCallbackQueueAfterUserStopped(true,
                                          [willRedirect = callbacks.willRedirect, http, request = callbacks.request] {
                                            willRedirect(http, request, [](std::optional<URLRequest>) {});
                                          });
  }
  if (auto didReceiveResponse = callbacks.didReceiveResponse) {
    invokeOnCallbackQueueAfterUserStopped(
        true, [didReceiveResponse, response] { didReceiveResponse(response, [](URLSessionResponseDisposition) {}); });
  }
  if (auto sendProgress = callbacks.sendProgress) {
    reportInChunks(callbacks.bodyLength, [&](std::int64_t chunk, std::int64_t sent, std::int64_t total) {
      invokeOnCallbackQueueUnlessStopped([=] { sendProgress(chunk, sent, total); });
    });
  }
}

std::optional<NSError> ZSDK_ZTKSessionFetcher::simulateDownload(const SimulatedCallbacks& callbacks,
                                                                const std::optional<Data>& data) {
  const Data body = data.value_or(Data());
  if (auto downloadProgress = callbacks.downloadProgress) {
    reportInChunks(static_cast<std::int64_t>(body.size()),
                   [&](std::int64_t chunk, std::int64_t sent, std::int64_t total) {
                     invokeOnCallbackQueueUnlessStopped([=] { downloadProgress(chunk, sent, total); });
                   });
  }
  if (!data || !writeAtomically(body, callbacks.destination->path())) return std::nullopt;
  return URLError(NSURLErrorCannotWriteToFile, callbacks.destination);
}

void ZSDK_ZTKSessionFetcher::simulateDataArrival(const SimulatedCallbacks& callbacks,
                                                 const std::shared_ptr<const URLResponse>& response,
                                                 const std::optional<Data>& data) {
  const Data body = data.value_or(Data());
  if (auto accumulate = callbacks.accumulate) {
    if (data) invokeOnCallbackQueueUnlessStopped([accumulate, body] { accumulate(body); });
  } else {
    Lock lock(mutex_);
    downloadedData_ = data;
    downloadedLength_ = static_cast<std::int64_t>(body.size());
  }
  if (auto receivedProgress = callbacks.receivedProgress) {
    reportInChunks(static_cast<std::int64_t>(body.size()), [&](std::int64_t chunk, std::int64_t sent, std::int64_t) {
      invokeOnCallbackQueueUnlessStopped([=] { receivedProgress(chunk, sent); });
    });
  }
  if (auto willCache = callbacks.willCache) {
    CachedURLResponse cached{response, body};
    invokeOnCallbackQueueAfterUserStopped(
        true, [willCache, cached] { willCache(cached, [](std::optional<CachedURLResponse>) {}); });
  }
}

void ZSDK_ZTKSessionFetcher::writeDownloadedDataToDestinationLocked() {
  if (!destinationFileURL_ || !downloadedData_ || downloadedData_->empty()) return;
  if (writeAtomically(*downloadedData_, destinationFileURL_->path())) {
    downloadMoveError_ = URLError(NSURLErrorCannotWriteToFile, destinationFileURL_);
  } else {
    downloadedData_.reset();
  }
}
