#include "platform/net/transfer.h"

#include <unistd.h>

#include <algorithm>

#include "platform/net/transfer_internal.h"
#include "platform/net/url_error.h"

// Completion: the end of a hop, of the transfer, and the error it ends with.

namespace net_detail {

namespace {

long urlErrorCode(CURLcode result) {
  switch (result) {
    case CURLE_OPERATION_TIMEDOUT: return NSURLErrorTimedOut;
    case CURLE_URL_MALFORMAT: return NSURLErrorBadURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return NSURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT: return NSURLErrorCannotConnectToHost;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return NSURLErrorNetworkConnectionLost;
    // Schemes are checked before sending, so this is a reply curl could not read as HTTP.
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_RANGE_ERROR: return NSURLErrorBadServerResponse;
    case CURLE_BAD_CONTENT_ENCODING: return NSURLErrorCannotDecodeContentData;
    case CURLE_FILESIZE_EXCEEDED: return NSURLErrorDataLengthExceedsMaximum;
    case CURLE_SEND_FAIL_REWIND: return NSURLErrorRequestBodyStreamExhausted;
    case CURLE_LOGIN_DENIED: return NSURLErrorUserAuthenticationRequired;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_USE_SSL_FAILED: return NSURLErrorSecureConnectionFailed;
    case CURLE_SSL_CERTPROBLEM: return NSURLErrorClientCertificateRejected;
    case CURLE_PEER_FAILED_VERIFICATION: return NSURLErrorServerCertificateUntrusted;
    case CURLE_ABORTED_BY_CALLBACK: return NSURLErrorCancelled;
    default: return NSURLErrorUnknown;
  }
}

// OpenSSL's verify results (X509_V_ERR_*) that the platform reports with codes of their own.
long certificateErrorCode(long verifyResult) {
  switch (verifyResult) {
    case 9: return NSURLErrorServerCertificateNotYetValid;      // certificate not yet valid
    case 10: return NSURLErrorServerCertificateHasBadDate;      // certificate has expired
    case 2:                                                     // unable to get issuer certificate
    case 20: return NSURLErrorServerCertificateHasUnknownRoot;  // unable to get local issuer
    default: return NSURLErrorServerCertificateUntrusted;
  }
}

}  // namespace

void Transfer::acceptFinalHop() {
  acceptResponse(collected_);
  collected_ = {};
  if (awaitingDisposition_) {
    doneWhileWaiting_ = CURLE_OK;
  } else {
    finishSuccess();
  }
}

void Transfer::hopFinished(CURLcode result) {
  auto self = shared_from_this();
  // Read before endHop(): the error may need the easy handle.
  std::optional<NSError> error;
  if (result != CURLE_OK) error = errorForResult(result);
  hopSucceeded_ = result == CURLE_OK;
  endHop();
  if (finished_) return;
  if (error) return complete(std::move(error));
  if (!headersDone_) return fail(NSURLErrorBadServerResponse);
  switch (hopKind_) {
    case HopKind::Redirect: return handleRedirect();
    case HopKind::Challenge: return handleChallenge();
    case HopKind::Normal:
      if (awaitingDisposition_) {
        doneWhileWaiting_ = CURLE_OK;
      } else {
        finishSuccess();
      }
      return;
  }
}

bool Transfer::checkTimeout(std::chrono::steady_clock::time_point now) {
  if (!easy_ || suspended_ || backpressurePaused_) return false;
  if (now < resourceDeadline_ && now - lastActivity_ < hopIdle_) return false;
  auto self = shared_from_this();
  endHop();
  fail(NSURLErrorTimedOut);
  return true;
}

void Transfer::waitTimedOut() {
  if (finished_ || !slot_.host || slot_.running) return;  // no longer waiting
  fail(NSURLErrorTimedOut);
}

std::chrono::steady_clock::time_point Transfer::deadline() const {
  if (!easy_ || suspended_ || backpressurePaused_) return SteadyClock::time_point::max();
  return timeoutAt();
}

std::chrono::steady_clock::time_point Transfer::timeoutAt() const {
  return std::min(lastActivity_ + hopIdle_, resourceDeadline_);
}

void Transfer::fail(long code) {
  std::optional<URL> url = easy_ || hopResponse_ ? std::optional<URL>(hopURL_) : request_->url;
  complete(URLError(code, url));
}

NSError Transfer::errorForResult(CURLcode result) const {
  long code = urlErrorCode(result);
  if (streamFailed_ && (result == CURLE_ABORTED_BY_CALLBACK || result == CURLE_READ_ERROR))
    code = NSURLErrorRequestBodyStreamExhausted;
  if (resendRefused_ && result == CURLE_ABORTED_BY_CALLBACK) code = NSURLErrorNetworkConnectionLost;
  if (result == CURLE_WRITE_ERROR && writeFailed_)
    code = downloadFd_ < 0 ? NSURLErrorCannotCreateFile : NSURLErrorCannotWriteToFile;
  if (result == CURLE_WRITE_ERROR && bodyTooLarge_) code = NSURLErrorDataLengthExceedsMaximum;
  if (result == CURLE_WRITE_ERROR && rangeMismatch_) code = NSURLErrorBadServerResponse;
  // curl reports a header beyond its size limit as running out of memory.
  if (result == CURLE_OUT_OF_MEMORY && !headersDone_) code = NSURLErrorBadServerResponse;
  if (result == CURLE_PEER_FAILED_VERIFICATION && easy_) {
    long verify = 0;
    curl_easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &verify);
    code = certificateErrorCode(verify);
  }
  return URLError(code, hopURL_);
}

void Transfer::finishSuccess() {
  if (!responseAccepted_ || rangeMismatch_) return fail(NSURLErrorBadServerResponse);
  if (setup_.kind == Kind::Download) {
    if (downloadFd_ < 0) return fail(NSURLErrorCannotCreateFile);
    ::close(downloadFd_);
    downloadFd_ = -1;
    std::string path = std::move(downloadPath_);
    downloadPath_.clear();
    URL location = URL::fileURLWithPath(path);
    downloadDelivered_ = true;
    if (setup_.downloadCompletion) {
      deliverAlways([handler = setup_.downloadCompletion, location, path, response = task_->response()] {
        handler(location, response, std::nullopt);
        ::unlink(path.c_str());
      });
    } else {
      auto session = session_;
      deliverAlways([session, task = downloadTask(), location, path] {
        if (auto delegate = session->delegateOnQueue()) delegate->didFinishDownloadingToURL(session, task, location);
        ::unlink(path.c_str());
      });
    }
  }
  complete(std::nullopt);
}

void Transfer::complete(std::optional<NSError> error) {
  if (finished_) return;
  finished_ = true;
  auto self = shared_from_this();
  endHop();
  if (error && error->code != NSURLErrorCancelled) {
    if (auto resume = takeResumeData()) error->userInfo[NSURLSessionDownloadTaskResumeData] = Value(std::move(*resume));
  }
  if (stream_ && stream_->streamStatus() != StreamStatus::Closed && stream_->streamStatus() != StreamStatus::NotOpen)
    stream_->close();
  if (downloadFd_ >= 0) {
    ::close(downloadFd_);
    downloadFd_ = -1;
  }
  if (!downloadPath_.empty()) {
    ::unlink(downloadPath_.c_str());
    downloadPath_.clear();
  }
  pending_ = {};
  if (!task_) return;
  {
    std::lock_guard lock(task_->mutex_);
    task_->error_ = error;
  }
  task_->state_ = URLSessionTaskState::Completed;

  if (setup_.dataCompletion) {
    std::optional<Data> data;
    if (!error) data = std::move(accumulated_);
    // Runs once: hands over what it holds. The in-flight share drops with it, after the handler.
    deliverAlways([handler = std::move(setup_.dataCompletion), data = std::move(data), response = task_->response(),
                   error, inFlight = std::move(inFlight_)]() mutable {
      handler(std::move(data), std::move(response), std::move(error));
    });
  } else if (setup_.downloadCompletion) {
    if (!downloadDelivered_) {
      deliverAlways([handler = setup_.downloadCompletion, response = task_->response(), error] {
        handler(std::nullopt, response, error);
      });
    }
  } else {
    // The in-flight share rides along too (a closure of its own would cost an allocation).
    deliver(
        [task = task_, error, inFlight = std::move(inFlight_)](
            URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) { d.didCompleteWithError(s, task, error); });
  }
  // Queued behind the last callback: the count drops once that has run.
  if (inFlight_) deliverAlways([inFlight = std::move(inFlight_)] {});
  auto session = std::move(session_);
  auto task = std::move(task_);
  session->taskEnded(task.get());
  setup_.dataCompletion = nullptr;
  setup_.downloadCompletion = nullptr;
}

}  // namespace net_detail
