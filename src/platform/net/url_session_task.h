#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"

class URLSession;
namespace net_detail {
class Transfer;
}

enum class URLSessionTaskState { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

// One load in a URL session. Created suspended; resume() starts it. Thread-safe.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  virtual ~URLSessionTask();

  unsigned long taskIdentifier() const { return taskIdentifier_; }
  std::optional<std::string> taskDescription() const;
  void setTaskDescription(std::optional<std::string> description);

  std::optional<URLRequest> originalRequest() const {
    return originalRequest_ ? std::optional<URLRequest>(*originalRequest_) : std::nullopt;
  }
  // The request of the current hop (after redirects).
  std::optional<URLRequest> currentRequest() const;
  std::shared_ptr<const URLResponse> response() const;
  // Set once the task completed with an error.
  std::optional<NSError> error() const;

  // A background task moves to a session made later with the same identifier.
  std::shared_ptr<URLSession> session() const;

  // Completed is set before the completion is delivered.
  URLSessionTaskState state() const { return state_.load(); }

  std::int64_t countOfBytesSent() const { return bytesSent_.load(); }
  std::int64_t countOfBytesReceived() const { return bytesReceived_.load(); }
  std::int64_t countOfBytesExpectedToSend() const { return bytesExpectedToSend_.load(); }
  std::int64_t countOfBytesExpectedToReceive() const { return bytesExpectedToReceive_.load(); }

  // A response body longer than this (counted after decoding) ends the task with
  // NSURLErrorDataLengthExceedsMaximum as soon as it is passed, closing its connection: the cap of
  // one load on a session others share. The session's own cap applies too. Set before resume().
  std::optional<std::int64_t> maximumResponseBodySize() const;
  void setMaximumResponseBodySize(std::optional<std::int64_t> size);

  void resume();
  void suspend();
  // Ends the task with NSURLErrorCancelled (-999), delivered once; later calls do nothing.
  void cancel();

 protected:
  // `request` is null for a task without one (resume data that could not be read).
  URLSessionTask(std::shared_ptr<URLSession> session, std::shared_ptr<const URLRequest> request, bool isDataTask);
  // Running or suspended -> canceling; false when the task already ended or is being cancelled.
  bool startCanceling();

 private:
  friend class URLSession;
  friend class URLSessionDownloadTask;
  friend class net_detail::Transfer;

  const unsigned long taskIdentifier_;
  // A data (or upload) task, else a download task: the engine tells them apart per callback.
  const bool isDataTask_;
  // Shared, never changed, with the engine's transfer.
  const std::shared_ptr<const URLRequest> originalRequest_;
  std::shared_ptr<net_detail::Transfer> transfer_;  // set once by the session

  mutable std::mutex mutex_;
  std::shared_ptr<URLSession> session_;  // a task keeps its session alive
  std::optional<std::string> taskDescription_;
  std::shared_ptr<const URLRequest> currentRequest_;  // null: still the original one
  std::shared_ptr<const URLResponse> response_;
  std::optional<NSError> error_;

  std::atomic<URLSessionTaskState> state_{URLSessionTaskState::Suspended};
  std::atomic<std::int64_t> maximumBodySize_{-1};  // -1: none
  std::atomic<std::int64_t> bytesSent_{0}, bytesReceived_{0}, bytesExpectedToSend_{0},
      bytesExpectedToReceive_{NSURLSessionTransferSizeUnknown};
};

class URLSessionDataTask : public URLSessionTask {
 public:
  URLSessionDataTask(std::shared_ptr<URLSession> session, std::shared_ptr<const URLRequest> request)
      : URLSessionTask(std::move(session), std::move(request), true) {}
};

class URLSessionUploadTask : public URLSessionDataTask {
 public:
  using URLSessionDataTask::URLSessionDataTask;
};

class URLSessionDownloadTask : public URLSessionTask {
 public:
  URLSessionDownloadTask(std::shared_ptr<URLSession> session, std::shared_ptr<const URLRequest> request)
      : URLSessionTask(std::move(session), std::move(request), false) {}
  // Cancels the task; the handler gets, on the session's delegate queue, the data that
  // downloadTaskWithResumeData goes on from: nothing when the task had ended or cannot go on
  // (no 200 or 206 answer yet, or a body that was decoded on the way).
  void cancelByProducingResumeData(std::function<void(std::optional<Data> resumeData)> completionHandler);
};
