#include "platform/net/url_session_task.h"

#include <algorithm>

#include "platform/net/curl_engine.h"
#include "platform/net/transfer.h"
#include "platform/net/url_session.h"

namespace {
std::atomic<unsigned long> nextTaskIdentifier{1};
}

URLSessionTask::URLSessionTask(std::shared_ptr<URLSession> session, std::shared_ptr<const URLRequest> request,
                               bool isDataTask)
    : taskIdentifier_(nextTaskIdentifier++),
      isDataTask_(isDataTask),
      originalRequest_(std::move(request)),
      session_(std::move(session)) {}

URLSessionTask::~URLSessionTask() {
  if (state_.load() != URLSessionTaskState::Completed && session_) session_->taskEnded(this);
}

std::shared_ptr<URLSession> URLSessionTask::session() const {
  std::lock_guard lock(mutex_);
  return session_;
}

std::optional<std::string> URLSessionTask::taskDescription() const {
  std::lock_guard lock(mutex_);
  return taskDescription_;
}

void URLSessionTask::setTaskDescription(std::optional<std::string> description) {
  std::lock_guard lock(mutex_);
  taskDescription_ = std::move(description);
}

std::optional<URLRequest> URLSessionTask::currentRequest() const {
  std::shared_ptr<const URLRequest> current;
  {
    std::lock_guard lock(mutex_);
    current = currentRequest_ ? currentRequest_ : originalRequest_;
  }
  return current ? std::optional<URLRequest>(*current) : std::nullopt;
}

std::shared_ptr<const URLResponse> URLSessionTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<NSError> URLSessionTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::optional<std::int64_t> URLSessionTask::maximumResponseBodySize() const {
  const auto size = maximumBodySize_.load();
  return size < 0 ? std::nullopt : std::optional(size);
}

void URLSessionTask::setMaximumResponseBodySize(std::optional<std::int64_t> size) {
  maximumBodySize_ = size ? std::max<std::int64_t>(*size, 0) : -1;
}

void URLSessionTask::resume() {
  auto expected = URLSessionTaskState::Suspended;
  if (!state_.compare_exchange_strong(expected, URLSessionTaskState::Running)) return;
  net_detail::CurlEngine::shared().post(
      [transfer = transfer_, self = shared_from_this(), inFlight = net_detail::countTransferInFlight()]() mutable {
        transfer->resume(self, std::move(inFlight));
      });
}

void URLSessionTask::suspend() {
  auto expected = URLSessionTaskState::Running;
  if (!state_.compare_exchange_strong(expected, URLSessionTaskState::Suspended)) return;
  net_detail::CurlEngine::shared().post([transfer = transfer_] { transfer->suspend(); });
}

bool URLSessionTask::startCanceling() {
  auto state = state_.load();
  do {
    if (state == URLSessionTaskState::Completed || state == URLSessionTaskState::Canceling) return false;
  } while (!state_.compare_exchange_weak(state, URLSessionTaskState::Canceling));
  return true;
}

void URLSessionTask::cancel() {
  if (!startCanceling()) return;
  net_detail::CurlEngine::shared().post([transfer = transfer_, self = shared_from_this()] { transfer->cancel(self); });
}

void URLSessionDownloadTask::cancelByProducingResumeData(std::function<void(std::optional<Data>)> completionHandler) {
  if (!startCanceling()) {
    if (completionHandler) session()->delegateQueue()->async([completionHandler] { completionHandler(std::nullopt); });
    return;
  }
  net_detail::CurlEngine::shared().post(
      [transfer = transfer_, self = shared_from_this(), completionHandler = std::move(completionHandler)]() mutable {
        transfer->cancelProducingResumeData(std::move(self), std::move(completionHandler));
      });
}
