#include <algorithm>
#include <utility>

#include "platform/foundation/ascii.h"
#include "platform/net/url_error.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

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
  bool tooLarge = false;
  {
    Lock lock(mutex_);
    if (!recordTaskLocked(dataTask) || responseTooLarge_) return;
    const auto length = static_cast<std::int64_t>(data.size());
    if (maximumResponseBodySize_ && downloadedLength_ > *maximumResponseBodySize_ - length) {
      // What came is dropped: the fetch fails without a partial body.
      tooLarge = responseTooLarge_ = true;
      downloadedData_.reset();
    } else if (accumulateDataBlock_) {
      downloadedLength_ += length;
      accumulate = accumulateDataBlock_;
    } else if (!userStoppedFetching_) {
      if (!downloadedData_) downloadedData_ = Data();
      downloadedData_->append(data);
      downloadedLength_ = static_cast<std::int64_t>(downloadedData_->size());
      progress = receivedProgressBlock_;
      total = downloadedLength_;
    }
  }
  if (tooLarge && dataTask) dataTask->cancel();
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
    if (std::exchange(responseTooLarge_, false))
      failure = URLError(NSURLErrorDataLengthExceedsMaximum, request_ ? request_->url : std::nullopt);
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
