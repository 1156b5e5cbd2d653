#include "platform/net/transfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/net/http_cookie.h"
#include "platform/net/transfer_internal.h"
#include "platform/net/url_error.h"

// Request setup: a hop's easy handle, its options and headers, and the body it sends.

namespace net_detail {

namespace {

// Methods a server may receive twice without harm (RFC 9110, 9.2.2).
bool isIdempotent(std::string_view method) {
  return method == "GET" || method == "HEAD" || method == "OPTIONS" || method == "TRACE" || method == "PUT" ||
         method == "DELETE";
}

// CR or LF would end the line and start one of the sender's choosing; NUL would cut it short.
bool breaksHeaderLine(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

}  // namespace

bool Transfer::sendsBody() const {
  return setup_.bodySource != BodySource::None && request_->httpMethod != "GET" && request_->httpMethod != "HEAD";
}

void Transfer::beginHop() {
  if (finished_) return;
  if (suspended_) {
    releaseSlot();  // a suspended task holds no connection back from the others
    beginPending_ = true;
    return;
  }
  hopURL_ = *request_->url;
  const URL& url = hopURL_;
  httpVersion_.clear();
  resetAnswer(0);
  hopResponse_.reset();
  lastUploaded_ = 0;
  writeFailed_ = false;
  streamFailed_ = false;
  resendRefused_ = false;
  bodyTooLarge_ = false;
  if (!headerLinesAreSafe()) {
    NSError error = URLError(NSURLErrorBadURL, url);
    error.userInfo[NSLocalizedDescriptionKey] =
        Value("The request has a method or header field with a line break or NUL character in it.");
    return complete(std::move(error));
  }

  bool https = url.scheme() == "https";
  const std::string key = https ? hostKey(url) : std::string();  // trust is asked for TLS only
  if (https && hasDelegate() && !trustDecisions_.count(key)) {
    askServerTrust(url);
    return;
  }
  bool verify = !https || !trustDecisions_.count(key) || trustDecisions_[key];
  if (!takeSlot(url)) return;
  // A hop that waited for its connection has what is left of its timeout.
  const bool waited = std::exchange(waitedForSlot_, false);
  if (waited && engine().turnTime() >= timeoutAt())
    return fail(NSURLErrorTimedOut);
  if (!prepareBody()) return releaseSlot();  // failed, or waits for a body stream

  const bool credential = hopCredential_ && credentialHost_ == hostKey(url);
  const unsigned plainKind = plainKindOf(url, credential);
  auto [easy, primed] = engine().acquireEasy(plainKind);
  if (!easy) return fail(NSURLErrorUnknown);
  easy_ = easy;
  plainKind_ = plainKind;
  hopSucceeded_ = false;
  configureEasy(easy, primed, url, verify, credential);
  if (!waited) touch();
  if (!engine().add(easy, shared_from_this())) {
    endHop();
    fail(NSURLErrorUnknown);
  }
}

bool Transfer::takeSlot(const URL& url) {
  const std::string key = hostKey(url);
  if (slot_.running && !ConnectionSlots::runsOn(slot_, key)) releaseSlot();
  if (!slot_.host) {
    // The wait counts as idle time: a request's timeout runs while no connection is free for it.
    touch();
    hopIdle_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(idleTimeout()));
  }
  const auto& configuration = session_->configuration();
  const ConnectionSlots::Limits limits{configuration.httpMaximumConnectionsPerHost,
                                       configuration.httpMaximumConnections};
  if (engine().connectionSlots().take(slot_, shared_from_this(), session_.get(), key, limits, timeoutAt())) return true;
  waitedForSlot_ = true;
  return false;
}

void Transfer::releaseSlot() {
  if (auto next = engine().connectionSlots().release(slot_)) engine().post([next] { next->beginHop(); });
}

// Plain: a request without credentials of any kind whose body, if any, is in memory. Every hop
// of one kind sets the same options, each time or once on a fresh handle (configureEasy), so a
// handle goes from one to the next without a reset. The kinds keep apart what a hop of another
// kind would have to undo: GET and HEAD set no custom method and no body; of those, a resumed
// download asks for no encoding (the one option costly to set again); other methods set their
// method and body, and the non-idempotent ones the check against a resend.
unsigned Transfer::plainKindOf(const URL& url, bool credential) const {
  if (credential || url.user() || url.password()) return 0;
  const std::string& method = request_->httpMethod;
  if (method == "GET" || method == "HEAD") return setup_.resume ? 2 : 1;
  if (setup_.resume || (sendsBody() && setup_.bodySource != BodySource::Data)) return 0;
  return isIdempotent(method) ? 3 : 4;
}

bool Transfer::headerLinesAreSafe() const {
  auto unsafe = [](const HTTPHeaderFields& fields) {
    return std::any_of(fields.begin(), fields.end(), [](const auto& field) {
      return breaksHeaderLine(field.first) || breaksHeaderLine(field.second);
    });
  };
  return !breaksHeaderLine(request_->httpMethod) && !unsafe(request_->allHTTPHeaderFields) &&
         !unsafe(session_->configuration().httpAdditionalHeaders);
}

bool Transfer::prepareBody() {
  bodyOffset_ = 0;
  if (!sendsBody()) return true;
  switch (setup_.bodySource) {
    case BodySource::None:
    case BodySource::Data: return true;
    case BodySource::File:
      if (bodyFd_ >= 0) ::close(bodyFd_);
      bodyFd_ = ::open(setup_.bodyFilePath.c_str(), O_RDONLY | O_CLOEXEC);
      if (bodyFd_ < 0) {
        fail(errno == ENOENT ? NSURLErrorFileDoesNotExist : NSURLErrorNoPermissionsToReadFile);
        return false;
      }
      return true;
    case BodySource::Stream:
      if (stream_ && !streamUsed_) {
        streamUsed_ = true;
        if (stream_->streamStatus() == StreamStatus::NotOpen) stream_->open();
        return true;
      }
      // A stream is read once; a resent body needs a fresh one.
      if (!hasDelegate()) {
        fail(NSURLErrorRequestBodyStreamExhausted);
        return false;
      }
      {
        auto self = shared_from_this();
        auto completion = makeOnce<std::shared_ptr<InputStream>>(
            [self](std::shared_ptr<InputStream> stream) {
              engine().post([self, stream] { self->onBodyStream(stream); });
            },
            [self] { engine().post([self] { self->onBodyStream(nullptr); }); });
        deliver([task = task_, completion](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
          d.needNewBodyStream(s, task, completion);
        });
      }
      return false;
  }
  return true;
}

void Transfer::onBodyStream(std::shared_ptr<InputStream> stream) {
  if (finished_) return;
  if (!stream) return fail(NSURLErrorRequestBodyStreamExhausted);
  stream_ = std::move(stream);
  streamUsed_ = false;
  beginHop();
}

// A primed handle (CurlEngine::acquireEasy) already has the options whose values never change.
void Transfer::configureEasy(CURL* easy, bool primed, const URL& url, bool verifyPeer, bool credential) {
  configureConnection(easy, primed, url, verifyPeer);
  configureCallbacks(easy, primed);
  configureMethod(easy);
  configureHeaders(easy, url);
  if (credential) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, hopCredential_->user.value_or("").c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, hopCredential_->password.value_or("").c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH,
                     hopAuthMethod_ == NSURLAuthenticationMethodHTTPDigest ? CURLAUTH_DIGEST : CURLAUTH_BASIC);
  }
}

void Transfer::configureConnection(CURL* easy, bool primed, const URL& url, bool verifyPeer) {
  curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
  curl_easy_setopt(easy, CURLOPT_URL, url.absoluteString().c_str());
  if (!primed) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxies from the environment
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // A resumed range counts bytes as sent, so they must not be encoded. (Part of the plain kind.)
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, setup_.resume ? "identity" : "");
  }
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verifyPeer ? 2L : 0L);
  long tls = CURL_SSLVERSION_TLSv1_2;
  switch (session_->configuration().tlsMinimumSupportedProtocol) {
    case SSLProtocol::kTLSProtocol1: tls = CURL_SSLVERSION_TLSv1_0; break;
    case SSLProtocol::kTLSProtocol11: tls = CURL_SSLVERSION_TLSv1_1; break;
    case SSLProtocol::kTLSProtocol12: tls = CURL_SSLVERSION_TLSv1_2; break;
    case SSLProtocol::kTLSProtocol13: tls = CURL_SSLVERSION_TLSv1_3; break;
  }
  curl_easy_setopt(easy, CURLOPT_SSLVERSION, tls);
  const double idle = idleTimeout();
  // Read by the engine's timeout scan on every turn: worked out once per hop.
  hopIdle_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(idle));
  auto idleMs = static_cast<long>(idle * 1000.0);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, std::max(idleMs, 1L));
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(resourceDeadline_ - engine().turnTime()).count();
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(left, 1)));
}

void Transfer::configureCallbacks(CURL* easy, bool primed) {
  if (!primed) {
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::headerCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::writeCallback);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::progressCallback);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  }
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  // curl resends a request once on a new connection when a reused one dies before answering;
  // the server may already have acted on it, so only idempotent requests may go out again.
  if (!isIdempotent(request_->httpMethod)) {
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::prereqCallback);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
  }
}

void Transfer::configureMethod(CURL* easy) {
  const std::string& method = request_->httpMethod;
  if (method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    return;
  }
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    return;
  }
  const bool sends = sendsBody();
  if (sends && setup_.bodySource == BodySource::Data) {
    // From memory curl sends the body with the headers, saving a round of writes.
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body().size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, reinterpret_cast<const char*>(body().data()));
  } else if (sends) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Transfer::readCallback);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Transfer::seekCallback);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
    curl_off_t size = -1;  // chunked
    if (setup_.bodySource == BodySource::File) size = static_cast<curl_off_t>(task_->bytesExpectedToSend_.load());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, size);
  } else {
    // A reused handle may still hold the last request's body: back to a method without one.
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
}

void Transfer::configureHeaders(CURL* easy, const URL& url) {
  const auto& configuration = session_->configuration();
  // The request's own fields, copied only when something changes them.
  std::optional<HTTPHeaderFields> changed;
  auto fields = [&]() -> const HTTPHeaderFields& { return changed ? *changed : request_->allHTTPHeaderFields; };
  auto change = [&]() -> HTTPHeaderFields& {
    if (!changed) changed = request_->allHTTPHeaderFields;
    return *changed;
  };
  for (const auto& [name, value] : configuration.httpAdditionalHeaders)
    if (!fields().contains(name)) change().setValue(value, name);
  // curl computes the length from the body it sends.
  if (fields().contains("Content-Length")) change().removeValue("Content-Length");
  if (setup_.resume && setup_.resume->bytesReceived > 0) {
    change().setValue("bytes=" + std::to_string(setup_.resume->bytesReceived) + "-", "Range");
    if (auto validator = setup_.resume->validator()) change().setValue(*validator, "If-Range");
  }
  bool cookies =
      configuration.httpShouldSetCookies && request_->httpShouldHandleCookies && configuration.httpCookieStorage;
  if (cookies && !fields().contains("Cookie")) {
    if (auto stored = configuration.httpCookieStorage->cookiesForURL(url)) {
      for (const auto& [name, value] : HTTPCookie::requestHeaderFieldsWithCookies(*stored))
        change().setValue(value, name);
    }
  }
  // One buffer of NUL-terminated lines (curl reads each up to its first NUL, as it would a copy
  // made by curl_slist_append), and list nodes pointing into it once it is complete.
  headerText_.clear();
  headerText_.reserve(256);
  headerNodes_.clear();
  headerNodes_.reserve(fields().size() + 2);
  auto addLine = [&](std::string_view name, std::string_view separator, std::string_view value) {
    headerNodes_.push_back({reinterpret_cast<char*>(static_cast<std::uintptr_t>(headerText_.size())), nullptr});
    headerText_.append(name).append(separator).append(value).push_back('\0');
  };
  for (const auto& [name, value] : fields()) addLine(name, value.empty() ? ";" : ": ", value);
  // Send exactly what the request says: no 100-continue round trip, no form content type.
  if (!fields().contains("Expect")) addLine("Expect:", "", "");
  if (sendsBody() && !fields().contains("Content-Type")) addLine("Content-Type:", "", "");
  for (std::size_t i = 0; i < headerNodes_.size(); ++i) {
    headerNodes_[i].data = headerText_.data() + reinterpret_cast<std::uintptr_t>(headerNodes_[i].data);
    headerNodes_[i].next = i + 1 < headerNodes_.size() ? &headerNodes_[i + 1] : nullptr;
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerNodes_.empty() ? nullptr : headerNodes_.data());
}

void Transfer::endHop() {
  releaseHeldResponse();  // off the engine's list of transfers, which releases it otherwise
  if (easy_) {
    curl_off_t uploaded = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK && task_ && uploaded > 0)
      task_->bytesSent_ = uploaded;
    engine().remove(*this);
    engine().releaseEasy(easy_, hopSucceeded_ ? plainKind_ : 0);
    easy_ = nullptr;
  }
  backpressurePaused_ = false;
  if (bodyFd_ >= 0) {
    ::close(bodyFd_);
    bodyFd_ = -1;
  }
  if (stream_ && streamUsed_ && stream_->streamStatus() != StreamStatus::Closed) stream_->close();
  releaseSlot();
}

void Transfer::updatePause() {
  if (!easy_) return;
  const bool pause = suspended_ || backpressurePaused_;
  if (pause) plainKind_ = 0;  // a handle that was paused is reset before its next use
  curl_easy_pause(easy_, pause ? CURLPAUSE_ALL : CURLPAUSE_CONT);
}

size_t Transfer::readCallback(char* buffer, size_t size, size_t nitems, void* userdata) {
  return static_cast<Transfer*>(userdata)->onRead(buffer, size * nitems);
}

int Transfer::seekCallback(void* userdata, curl_off_t offset, int origin) {
  auto* self = static_cast<Transfer*>(userdata);
  if (origin != SEEK_SET || offset < 0) return CURL_SEEKFUNC_CANTSEEK;
  switch (self->setup_.bodySource) {
    case BodySource::None: return CURL_SEEKFUNC_CANTSEEK;
    case BodySource::Data:
      if (static_cast<std::size_t>(offset) > self->body().size()) return CURL_SEEKFUNC_FAIL;
      self->bodyOffset_ = static_cast<std::size_t>(offset);
      return CURL_SEEKFUNC_OK;
    case BodySource::File:
      return ::lseek(self->bodyFd_, static_cast<off_t>(offset), SEEK_SET) < 0 ? CURL_SEEKFUNC_FAIL : CURL_SEEKFUNC_OK;
    case BodySource::Stream:
      if (self->stream_ &&
          self->stream_->setProperty(Value(static_cast<long long>(offset)), NSStreamFileCurrentOffsetKey))
        return CURL_SEEKFUNC_OK;
      return CURL_SEEKFUNC_CANTSEEK;
  }
  return CURL_SEEKFUNC_CANTSEEK;
}

int Transfer::progressCallback(void* clientp, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
  auto* self = static_cast<Transfer*>(clientp);
  if (ulnow > self->lastUploaded_ && self->task_) {
    self->touch();
    auto delta = static_cast<std::int64_t>(ulnow - self->lastUploaded_);
    self->lastUploaded_ = ulnow;
    self->task_->bytesSent_ = ulnow;
    if (self->hasDelegate()) {
      auto expected = self->task_->bytesExpectedToSend_.load();
      self->deliver([task = self->task_, delta, total = static_cast<std::int64_t>(ulnow), expected](
                        URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
        d.didSendBodyData(s, task, delta, total, expected);
      });
    }
  }
  return 0;
}

int Transfer::prereqCallback(void* clientp, char*, char*, int, int) {
  auto* self = static_cast<Transfer*>(clientp);
  // A second send after an answer is curl's own authentication round trip, which is fine.
  if (self->sendsSinceAnswer_++ == 0) return CURL_PREREQFUNC_OK;
  self->resendRefused_ = true;
  return CURL_PREREQFUNC_ABORT;
}

size_t Transfer::onRead(char* buffer, size_t size) {
  touch();
  switch (setup_.bodySource) {
    case BodySource::None: return 0;
    case BodySource::Data: {
      const Data& data = body();
      std::size_t n = std::min(size, data.size() - bodyOffset_);
      if (n) std::memcpy(buffer, data.data() + bodyOffset_, n);
      bodyOffset_ += n;
      return n;
    }
    case BodySource::File: {
      ssize_t n;
      do {
        n = ::read(bodyFd_, buffer, size);
      } while (n < 0 && errno == EINTR);
      if (n < 0) {
        streamFailed_ = true;
        return CURL_READFUNC_ABORT;
      }
      return static_cast<size_t>(n);
    }
    case BodySource::Stream: {
      long n = stream_ ? stream_->read(reinterpret_cast<std::uint8_t*>(buffer), size) : -1;
      if (n < 0) {
        streamFailed_ = true;
        return CURL_READFUNC_ABORT;
      }
      return static_cast<size_t>(n);
    }
  }
  return 0;
}

}  // namespace net_detail
