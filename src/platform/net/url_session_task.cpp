#include "platform/net/url_session_task.h"

namespace {
std::atomic<unsigned long> nextTaskIdentifier{1};
}

URLSessionTask::URLSessionTask(std::shared_ptr<URLSession> session, std::optional<URLRequest> request)
    : session_(session), taskIdentifier_(nextTaskIdentifier++), originalRequest_(request), currentRequest_(request) {}

URLSessionTask::~URLSessionTask() = default;

std::optional<std::string> URLSessionTask::taskDescription() const {
  std::lock_guard lock(mutex_);
  return taskDescription_;
}
void URLSessionTask::setTaskDescription(std::optional<std::string> description) {
  std::lock_guard lock(mutex_);
  taskDescription_ = std::move(description);
}
std::optional<URLRequest> URLSessionTask::currentRequest() const {
  std::lock_guard lock(mutex_);
  return currentRequest_;
}
std::shared_ptr<const URLResponse> URLSessionTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}
std::optional<NSError> URLSessionTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}
void URLSessionTask::resume() {}
void URLSessionTask::suspend() {}
void URLSessionTask::cancel() {}
void URLSessionDownloadTask::cancelByProducingResumeData(std::function<void(std::optional<Data>)>) { cancel(); }
