#include "platform/net/transfer.h"

#include "platform/foundation/ascii.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/net/transfer_internal.h"
#include "platform/net/url_error.h"

namespace net_detail {

namespace {

std::atomic<std::size_t> inFlightCount{0};

// What a transfer that never got its task's request (one cancelled before it started) reads.
const std::shared_ptr<const URLRequest>& noRequest() {
  static const auto* none = new std::shared_ptr<const URLRequest>(std::make_shared<const URLRequest>());
  return *none;
}

}  // namespace

bool isHTTPScheme(const URL& url) {
  auto scheme = url.scheme();
  return scheme == "http" || scheme == "https";
}

std::string hostKey(const URL& url) {
  return asciiLowercase(url.host().value_or("")) + ":" + std::to_string(url.effectivePort());
}

Transfer::Transfer(Setup setup) : setup_(std::move(setup)), request_(noRequest()) {}

const Data& Transfer::body() const {
  static const Data none;
  return setup_.bodyData ? *setup_.bodyData : none;
}

Transfer::~Transfer() {
  if (bodyFd_ >= 0) ::close(bodyFd_);
  if (downloadFd_ >= 0) ::close(downloadFd_);
  if (!downloadPath_.empty()) ::unlink(downloadPath_.c_str());
}

bool Transfer::hasDelegate() const { return session_ && session_->delegate() != nullptr; }

std::shared_ptr<URLSessionDataTask> Transfer::dataTask() const {
  if (!task_ || !task_->isDataTask_) return nullptr;
  return std::static_pointer_cast<URLSessionDataTask>(task_);
}

std::shared_ptr<URLSessionDownloadTask> Transfer::downloadTask() const {
  if (!task_ || task_->isDataTask_) return nullptr;
  return std::static_pointer_cast<URLSessionDownloadTask>(task_);
}

double Transfer::idleTimeout() const {
  double t = request_->timeoutInterval > 0 ? request_->timeoutInterval : 60.0;
  double c = session_ ? session_->configuration().timeoutIntervalForRequest : 0;
  if (c > 0) t = std::min(t, c);
  return t;
}

std::int64_t Transfer::bodyCap() const {
  const std::int64_t own = task_->maximumBodySize_.load();
  const auto& shared = session_->configuration().maximumResponseBodySize;
  return std::min(own < 0 ? INT64_MAX : own, shared ? *shared : INT64_MAX);
}

void Transfer::touch() { lastActivity_ = engine().turnTime(); }

void Transfer::releaseHeldResponse() {
  if (!heldResponse_) return;
  CurlEngine::deliver(std::exchange(heldQueue_, nullptr), std::exchange(heldResponse_, InlineCall()));
}

// ---- commands ----

std::shared_ptr<void> countTransferInFlight() {
  struct Share {
    Share() { ++inFlightCount; }
    ~Share() { --inFlightCount; }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
  };
  return std::make_shared<Share>();
}

std::size_t transfersInFlight() { return inFlightCount.load(); }

void Transfer::resume(std::shared_ptr<URLSessionTask> task, std::shared_ptr<void> inFlight) {
  if (!finished_ && !inFlight_) inFlight_ = std::move(inFlight);
  if (!started_) {
    start(std::move(task));
    return;
  }
  if (!suspended_ || finished_) return;
  suspended_ = false;
  touch();
  if (beginPending_) {
    beginPending_ = false;
    beginHop();
    return;
  }
  updatePause();
}

void Transfer::suspend() {
  if (!started_ || finished_) return;
  suspended_ = true;
  if (slot_.host && !slot_.running) {
    // Out of the wait for a connection, and so out of its timeout, until resumed.
    releaseSlot();
    beginPending_ = true;
  }
  updatePause();
}

void Transfer::cancel(std::shared_ptr<URLSessionTask> task) {
  if (finished_) return;
  if (!started_) {
    started_ = true;
    task_ = std::move(task);
    session_ = task_->session();
    if (task_->originalRequest_) request_ = task_->originalRequest_;
  }
  fail(NSURLErrorCancelled);
}

void Transfer::cancelProducingResumeData(std::shared_ptr<URLSessionTask> task,
                                         std::function<void(std::optional<Data>)> handler) {
  std::optional<Data> resume;
  if (!started_ && setup_.resume) {
    resume = encodeResumeData(*setup_.resume);  // its file is untouched
  } else if (!finished_) {
    resume = takeResumeData();
  }
  auto queue = (session_ ? session_ : task->session())->delegateQueue();
  cancel(std::move(task));
  if (handler) CurlEngine::deliver(queue, [handler = std::move(handler), resume] { handler(resume); });
}

void Transfer::rebind(const std::shared_ptr<URLSessionTask>& task, std::shared_ptr<URLSession> session) {
  if (!started_) return;  // start() takes the task's session
  // Ended before the move got here: the new session still counts the task as running.
  if (finished_) return session->taskEnded(task.get());
  releaseHeldResponse();  // to the delegate it was meant for
  session_ = std::move(session);
  bodyCap_ = bodyCap();
  // The new session's configuration may cap the wait for data differently.
  hopIdle_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(idleTimeout()));
}

void Transfer::start(std::shared_ptr<URLSessionTask> task) {
  started_ = true;
  task_ = std::move(task);
  session_ = task_->session();
  if (task_->originalRequest_) request_ = task_->originalRequest_;
  bodyCap_ = bodyCap();
  auto resource = session_->configuration().timeoutIntervalForResource;
  resourceDeadline_ = engine().turnTime() + std::chrono::duration_cast<SteadyClock::duration>(
                                                std::chrono::duration<double>(resource > 0 ? resource : 604800.0));
  if (setup_.failOnStart) return fail(*setup_.failOnStart);
  if (!request_->url || !isHTTPScheme(*request_->url)) return fail(NSURLErrorUnsupportedURL);
  if (!request_->url->host() || request_->url->host()->empty()) return fail(NSURLErrorBadURL);
  if (setup_.resume && !openResumeFile()) return fail(NSURLErrorCannotOpenFile);

  std::int64_t expectedToSend = 0;
  switch (setup_.bodySource) {
    case BodySource::None: break;
    case BodySource::Data: expectedToSend = static_cast<std::int64_t>(body().size()); break;
    case BodySource::File: {
      struct stat st {};
      if (::stat(setup_.bodyFilePath.c_str(), &st) != 0)
        return fail(errno == ENOENT ? NSURLErrorFileDoesNotExist : NSURLErrorNoPermissionsToReadFile);
      if (S_ISDIR(st.st_mode)) return fail(NSURLErrorFileIsDirectory);
      expectedToSend = static_cast<std::int64_t>(st.st_size);
      break;
    }
    case BodySource::Stream:
      stream_ = request_->httpBodyStream;
      expectedToSend = NSURLSessionTransferSizeUnknown;
      break;
  }
  if (!sendsBody()) expectedToSend = 0;
  task_->bytesExpectedToSend_ = expectedToSend;
  beginHop();
}

}  // namespace net_detail
