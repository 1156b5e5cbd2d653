#include "platform/net/transfer.h"

#include "platform/foundation/ascii.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "platform/net/curl_engine.h"
#include "platform/net/http_cookie.h"
#include "platform/net/url_error.h"

namespace net_detail {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Body bytes held while the delegate decides on the response; beyond this the socket waits.
constexpr std::size_t kMaxPending = 4u << 20;
// A redirect or challenge answer's body is kept in case it becomes the final response.
constexpr std::size_t kMaxCollected = 1u << 20;
constexpr int kMaxRedirects = 16;

CurlEngine& engine() { return CurlEngine::shared(); }

std::atomic<std::size_t> inFlightCount{0};

// Methods a server may receive twice without harm (RFC 9110, 9.2.2).
bool isIdempotent(std::string_view method) {
  return method == "GET" || method == "HEAD" || method == "OPTIONS" || method == "TRACE" || method == "PUT" ||
         method == "DELETE";
}

// CR or LF would end the line and start one of the sender's choosing; NUL would cut it short.
bool breaksHeaderLine(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool isHTTPScheme(const URL& url) {
  auto scheme = url.scheme();
  return scheme == "http" || scheme == "https";
}

std::string hostKey(const URL& url) {
  return asciiLowercase(url.host().value_or("")) + ":" + std::to_string(url.effectivePort());
}

// The strongest scheme curl can answer in a WWW-Authenticate value, with its realm.
std::optional<std::pair<std::string, std::optional<std::string>>> parseAuthenticate(std::string_view value) {
  std::optional<std::pair<std::string, std::optional<std::string>>> best;
  std::size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == ',')) ++pos;
    std::size_t end = pos;
    while (end < value.size() && value[end] != ' ' && value[end] != ',') ++end;
    std::string token = asciiLowercase(value.substr(pos, end - pos));
    bool isScheme = token == "basic" || token == "digest";
    if (isScheme && token.find('=') == std::string::npos) {
      std::optional<std::string> realm;
      auto r = asciiLowercase(value.substr(end)).find("realm=");
      if (r != std::string::npos) {
        std::string_view rest = value.substr(end + r + 6);
        if (!rest.empty() && rest.front() == '"') {
          rest.remove_prefix(1);
          realm = std::string(rest.substr(0, rest.find('"')));
        } else {
          realm = std::string(trimAsciiWhitespace(rest.substr(0, rest.find(','))));
        }
      }
      std::string method = token == "digest" ? NSURLAuthenticationMethodHTTPDigest : NSURLAuthenticationMethodHTTPBasic;
      if (!best || method == NSURLAuthenticationMethodHTTPDigest) best = std::make_pair(method, realm);
    }
    pos = end;
  }
  return best;
}

// "bytes first-last/total" -> (first, total); total -1 when the server gives "*".
std::optional<std::pair<std::int64_t, std::int64_t>> parseContentRange(std::string_view value) {
  value = trimAsciiWhitespace(value);
  if (!value.starts_with("bytes ")) return std::nullopt;
  value.remove_prefix(6);
  std::int64_t first = 0, total = -1;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), first);
  const auto slash = value.find('/');
  if (ec != std::errc() || end == value.data() || *end != '-' || slash == std::string_view::npos) return std::nullopt;
  const auto totalText = value.substr(slash + 1);
  if (totalText != "*") {
    auto [totalEnd, totalEc] = std::from_chars(totalText.data(), totalText.data() + totalText.size(), total);
    if (totalEc != std::errc() || totalEnd != totalText.data() + totalText.size()) return std::nullopt;
  }
  return std::make_pair(first, total);
}

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

namespace {
// What a transfer that never got its task's request (one cancelled before it started) reads.
const std::shared_ptr<const URLRequest>& noRequest() {
  static const auto* none = new std::shared_ptr<const URLRequest>(std::make_shared<const URLRequest>());
  return *none;
}
}  // namespace

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

template <class F>
void Transfer::deliver(F&& f) {
  if (!session_) return;
  auto session = session_;
  CurlEngine::deliver(session->delegateQueue(), [session, f = std::forward<F>(f)]() mutable {
    if (auto delegate = session->delegateOnQueue()) f(*delegate, session);
  });
}

template <class F>
void Transfer::deliverAlways(F&& f) {
  if (!session_) return;
  CurlEngine::deliver(session_->delegateQueue(), std::forward<F>(f));
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

void Transfer::touch() { lastActivity_ = engine().turnTime(); }

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
  session_ = std::move(session);
  // The new session's configuration may cap the wait for data differently.
  hopIdle_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(idleTimeout()));
}

void Transfer::start(std::shared_ptr<URLSessionTask> task) {
  started_ = true;
  task_ = std::move(task);
  session_ = task_->session();
  if (task_->originalRequest_) request_ = task_->originalRequest_;
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

// ---- hops ----

bool Transfer::sendsBody() const {
  return setup_.bodySource != BodySource::None && request_->httpMethod != "GET" && request_->httpMethod != "HEAD";
}

void Transfer::beginHop() {
  if (finished_) return;
  if (suspended_) {
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
  if (!prepareBody()) return;

  const bool credential = hopCredential_ && credentialHost_ == hostKey(url);
  // Plain: a GET or HEAD without credentials of any kind, which sets exactly the options every
  // plain request sets (configureEasy), so a handle can go from one to the next without a reset.
  // Its kind fixes the one option whose value is costly to set again: Accept-Encoding.
  const std::string& method = request_->httpMethod;
  const bool plain = (method == "GET" || method == "HEAD") && !credential && !url.user() && !url.password();
  const unsigned plainKind = !plain ? 0 : setup_.resume ? 2 : 1;
  auto [easy, primed] = engine().acquireEasy(plainKind);
  if (!easy) return fail(NSURLErrorUnknown);
  easy_ = easy;
  plainKind_ = plainKind;
  hopSucceeded_ = false;
  configureEasy(easy, primed, url, verify, credential);
  touch();
  if (!engine().add(easy, shared_from_this())) {
    endHop();
    fail(NSURLErrorUnknown);
  }
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
}

void Transfer::updatePause() {
  if (!easy_) return;
  const bool pause = suspended_ || backpressurePaused_;
  if (pause) plainKind_ = 0;  // a handle that was paused is reset before its next use
  curl_easy_pause(easy_, pause ? CURLPAUSE_ALL : CURLPAUSE_CONT);
}

// ---- curl callbacks ----

size_t Transfer::headerCallback(char* buffer, size_t size, size_t nitems, void* userdata) {
  auto* self = static_cast<Transfer*>(userdata);
  self->onHeader(std::string_view(buffer, size * nitems));
  return size * nitems;
}

size_t Transfer::writeCallback(char* ptr, size_t size, size_t nmemb, void* userdata) {
  return static_cast<Transfer*>(userdata)->onWrite(ptr, size * nmemb);
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

void Transfer::onHeader(std::string_view line) {
  touch();
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    // A new answer (after 1xx, or curl's own authentication round trip) replaces the last one.
    auto space = line.find(' ');
    httpVersion_.assign(line.substr(0, space));
    int status = 0;
    if (space != std::string_view::npos) {
      auto code = trimAsciiWhitespace(line.substr(space + 1)).substr(0, 3);
      std::from_chars(code.data(), code.data() + code.size(), status);
    }
    resetAnswer(status);
    return;
  }
  if (line.empty()) {
    if (status_ < 200 || headersDone_) return;
    headersDone_ = true;
    onHeadersComplete();
    return;
  }
  if ((line.front() == ' ' || line.front() == '\t') && lastHeader_ != kNoSlot) {
    headers_.valueAt(lastHeader_).append(" ").append(trimAsciiWhitespace(line));
    return;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = trimAsciiWhitespace(line.substr(0, colon));
  const std::string_view value = trimAsciiWhitespace(line.substr(colon + 1));
  if (HTTPHeaderFields::namesEqual(name, "Set-Cookie")) setCookieLines_.emplace_back(value);
  if (headers_.empty()) headers_.reserve(8);
  const std::size_t index = headers_.addValue(value, name);
  lastHeader_ = name.empty() ? kNoSlot : index;  // a folded line continues a named field only
}

void Transfer::resetAnswer(int status) {
  status_ = status;
  answerBytes_ = 0;
  sendsSinceAnswer_ = 0;
  headers_ = {};
  setCookieLines_.clear();
  lastHeader_ = kNoSlot;
  headersDone_ = false;
  hopKind_ = HopKind::Normal;
  collected_ = {};
}

void Transfer::onHeadersComplete() {
  // The answer's fields move into the response; later reads of this hop go through it.
  hopResponse_ = std::make_shared<HTTPURLResponse>(hopURL_, status_, httpVersion_, std::move(headers_));
  headers_ = {};
  const HTTPHeaderFields& fields = hopResponse_->allHeaderFields();
  const auto& configuration = session_->configuration();
  bool acceptCookies = configuration.httpCookieAcceptPolicy != HTTPCookieAcceptPolicy::Never;
  if (configuration.httpCookieAcceptPolicy == HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain &&
      request_->mainDocumentURL) {
    std::string host = asciiLowercase(hopURL_.host().value_or(""));
    std::string main = asciiLowercase(request_->mainDocumentURL->host().value_or(""));
    acceptCookies = !main.empty() && (host == main || (host.size() > main.size() && host.ends_with("." + main)));
  }
  if (configuration.httpShouldSetCookies && request_->httpShouldHandleCookies && configuration.httpCookieStorage &&
      acceptCookies && !setCookieLines_.empty()) {
    std::vector<HTTPCookie> cookies;
    for (const auto& line : setCookieLines_)
      if (auto cookie = HTTPCookie::cookieFromSetCookieHeader(line, hopURL_)) cookies.push_back(std::move(*cookie));
    if (!cookies.empty()) configuration.httpCookieStorage->setCookies(cookies, hopURL_, request_->mainDocumentURL);
  }
  bool redirect = (status_ == 301 || status_ == 302 || status_ == 303 || status_ == 307 || status_ == 308) &&
                  fields.contains("Location");
  const std::string* authenticate = status_ == 401 ? fields.find("WWW-Authenticate") : nullptr;
  bool challenge = authenticate && parseAuthenticate(*authenticate);
  // Redirects and challenges are decided once the answer is complete (curl may still retry
  // an authentication by itself); anything else is the final response.
  hopKind_ = redirect ? HopKind::Redirect : challenge ? HopKind::Challenge : HopKind::Normal;
  if (hopKind_ == HopKind::Normal) acceptResponse({});
}

size_t Transfer::onWrite(const char* data, size_t size) {
  touch();
  // Counted after decoding: a small compressed answer may still unpack into a huge one.
  const auto& cap = session_->configuration().maximumResponseBodySize;
  if (cap && answerBytes_ + static_cast<std::int64_t>(size) > *cap) {
    bodyTooLarge_ = true;
    return 0;
  }
  answerBytes_ += static_cast<std::int64_t>(size);
  if (hopKind_ != HopKind::Normal || !responseAccepted_) {
    if (collected_.size() < kMaxCollected) collected_.append(std::string_view(data, size));
    return size;
  }
  if (awaitingDisposition_) {
    if (pending_.size() + size > kMaxPending) {
      answerBytes_ -= static_cast<std::int64_t>(size);  // curl hands the same bytes over again
      backpressurePaused_ = true;
      plainKind_ = 0;
      return CURL_WRITEFUNC_PAUSE;
    }
    pending_.append(std::string_view(data, size));
    return size;
  }
  return deliverBody(data, size) ? size : 0;
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

// ---- responses ----

void Transfer::acceptResponse(const Data& bodySoFar) {
  responseAccepted_ = true;
  {
    std::lock_guard lock(task_->mutex_);
    task_->response_ = hopResponse_;
  }
  expectedToReceive_ = hopResponse_->expectedContentLength();
  // Bytes are counted after decoding, so an encoded length says nothing about them.
  const std::string* encoding = hopResponse_->allHeaderFields().find("Content-Encoding");
  if (encoding && !asciiEqualIgnoringCase(trimAsciiWhitespace(*encoding), "identity"))
    expectedToReceive_ = NSURLSessionTransferSizeUnknown;
  task_->bytesExpectedToReceive_ = expectedToReceive_;

  if (setup_.kind == Kind::Download) {
    if (setup_.resume && downloadFd_ >= 0) {
      continueResumedDownload();
    } else {
      openDownloadFile();
    }
    if (!bodySoFar.empty()) deliverBody(reinterpret_cast<const char*>(bodySoFar.data()), bodySoFar.size());
    return;
  }
  // Read once: the delegate queue may drop it in between.
  const auto delegate = usesCompletionHandler() || !session_ ? nullptr : session_->delegate();
  if (!delegate) {
    if (!bodySoFar.empty()) deliverBody(reinterpret_cast<const char*>(bodySoFar.data()), bodySoFar.size());
    return;
  }
  if (!delegate->wantsResponseDisposition(dataTask())) {
    // Told, not asked: the body flows on without a round trip to the delegate queue.
    deliver([task = dataTask(), response = std::shared_ptr<const URLResponse>(hopResponse_)](
                URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
      d.didReceiveResponse(s, task, response, [](URLSessionResponseDisposition) {});
    });
    if (!bodySoFar.empty()) deliverBody(reinterpret_cast<const char*>(bodySoFar.data()), bodySoFar.size());
    return;
  }
  awaitingDisposition_ = true;
  pending_ = bodySoFar;
  auto self = shared_from_this();
  auto completion = makeOnce<URLSessionResponseDisposition>(
      [self](URLSessionResponseDisposition d) { engine().post([self, d] { self->onDisposition(d); }); },
      [self] { engine().post([self] { self->onDisposition(URLSessionResponseDisposition::Allow); }); });
  deliver([task = dataTask(), response = std::shared_ptr<const URLResponse>(hopResponse_), completion](
              URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didReceiveResponse(s, task, response, completion);
  });
}

// A fresh name opened with O_EXCL rather than mkstemps, whose new descriptor ThreadSanitizer does
// not see: it would take the file for a socket closed earlier under that number.
void Transfer::openDownloadFile() {
  static std::atomic<unsigned long> counter{0};
  const auto directory = std::filesystem::temp_directory_path();
  const auto salt = static_cast<unsigned long long>(SteadyClock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path =
        (directory / ("URLSessionDownload_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
                      std::to_string(salt % 1000000007) + ".tmp"))
            .string();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      downloadFd_ = fd;
      downloadPath_ = path;
      return;
    }
    if (errno != EEXIST) break;
  }
  writeFailed_ = true;
}

// The partial file becomes this transfer's: removed at the end unless handed on again.
bool Transfer::openResumeFile() {
  const ResumeData& resume = *setup_.resume;
  int fd = ::open(resume.filePath.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < resume.bytesReceived || ::ftruncate(fd, resume.bytesReceived) != 0 ||
      ::lseek(fd, 0, SEEK_END) < 0) {
    ::close(fd);
    return false;
  }
  downloadFd_ = fd;
  downloadPath_ = resume.filePath;
  return true;
}

// A 206 for the range asked for appends to the file; any other answer replaces what it holds.
void Transfer::continueResumedDownload() {
  const std::int64_t offset = setup_.resume->bytesReceived;
  if (status_ == 206 && offset > 0) {
    const auto range = parseContentRange(hopResponse_->valueForHTTPHeaderField("Content-Range").value_or(""));
    if (!range || range->first != offset) {
      rangeMismatch_ = true;
      return;
    }
    received_ = offset;
    task_->bytesReceived_ = offset;
    if (range->second >= 0) {
      expectedToReceive_ = range->second;
    } else if (expectedToReceive_ >= 0) {
      expectedToReceive_ += offset;
    }
    task_->bytesExpectedToReceive_ = expectedToReceive_;
  } else {
    if (::ftruncate(downloadFd_, 0) != 0 || ::lseek(downloadFd_, 0, SEEK_SET) < 0) {
      ::close(downloadFd_);
      downloadFd_ = -1;
      writeFailed_ = true;
    }
    if (status_ != 200) return;
  }
  deliver([task = downloadTask(), offset = received_, expected = expectedToReceive_](
              URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didResumeAtOffset(s, task, offset, expected);
  });
}

std::optional<Data> Transfer::takeResumeData() {
  if (setup_.kind != Kind::Download || downloadFd_ < 0 || writeFailed_ || rangeMismatch_) return std::nullopt;
  ResumeData resume;
  if (responseAccepted_) {
    const int status = hopResponse_->statusCode();
    auto encoding = hopResponse_->valueForHTTPHeaderField("Content-Encoding");
    if ((status != 200 && status != 206) || (encoding && asciiLowercase(trimAsciiWhitespace(*encoding)) != "identity"))
      return std::nullopt;
    if (task_->originalRequest_) resume.request = *task_->originalRequest_;
    resume.bytesReceived = received_;
    resume.entityTag = hopResponse_->valueForHTTPHeaderField("ETag");
    resume.lastModified = hopResponse_->valueForHTTPHeaderField("Last-Modified");
  } else if (setup_.resume) {
    resume = *setup_.resume;  // nothing new arrived
  } else {
    return std::nullopt;
  }
  ::close(downloadFd_);
  downloadFd_ = -1;
  resume.filePath = std::exchange(downloadPath_, std::string());
  return encodeResumeData(resume);
}

void Transfer::onDisposition(URLSessionResponseDisposition disposition) {
  if (finished_ || !awaitingDisposition_) return;
  awaitingDisposition_ = false;
  if (disposition == URLSessionResponseDisposition::BecomeDownload) return becomeDownload();
  if (disposition != URLSessionResponseDisposition::Allow) return fail(NSURLErrorCancelled);
  Data pending = std::move(pending_);
  pending_ = {};
  if (!pending.empty()) deliverBody(reinterpret_cast<const char*>(pending.data()), pending.size());
  if (backpressurePaused_) {
    backpressurePaused_ = false;
    updatePause();
  }
  if (doneWhileWaiting_) finishSuccess();
}

// The rest of the body goes to a file, reported through a new download task; the data task
// ends without a completion of its own.
void Transfer::becomeDownload() {
  auto dataTask = this->dataTask();
  auto download = session_->adoptDownloadTask(task_->originalRequest_, shared_from_this());
  {
    std::scoped_lock lock(task_->mutex_, download->mutex_);
    download->currentRequest_ = task_->currentRequest_;
    download->response_ = task_->response_;
    download->taskDescription_ = task_->taskDescription_;
  }
  download->bytesSent_ = task_->bytesSent_.load();
  download->bytesExpectedToSend_ = task_->bytesExpectedToSend_.load();
  download->bytesExpectedToReceive_ = expectedToReceive_;
  task_->state_ = URLSessionTaskState::Completed;
  session_->taskEnded(task_.get());
  task_ = download;
  setup_.kind = Kind::Download;
  deliver([dataTask, download](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didBecomeDownloadTask(s, dataTask, download);
  });
  openDownloadFile();
  Data pending = std::move(pending_);
  pending_ = {};
  if (!pending.empty() && !deliverBody(reinterpret_cast<const char*>(pending.data()), pending.size()))
    return fail(downloadFd_ < 0 ? NSURLErrorCannotCreateFile : NSURLErrorCannotWriteToFile);
  if (backpressurePaused_) {
    backpressurePaused_ = false;
    updatePause();
  }
  if (doneWhileWaiting_) finishSuccess();
}

bool Transfer::deliverBody(const char* data, size_t size) {
  if (size == 0) return true;
  received_ += static_cast<std::int64_t>(size);
  task_->bytesReceived_ = received_;
  if (setup_.kind == Kind::Download) {
    if (downloadFd_ < 0 || rangeMismatch_) return false;
    std::size_t written = 0;
    while (written < size) {
      ssize_t n = ::write(downloadFd_, data + written, size - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        writeFailed_ = true;
        return false;
      }
      written += static_cast<std::size_t>(n);
    }
    if (!setup_.downloadCompletion) {
      deliver([task = downloadTask(), n = static_cast<std::int64_t>(size), total = received_,
               expected = expectedToReceive_](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
        d.didWriteData(s, task, n, total, expected);
      });
    }
    return true;
  }
  if (usesCompletionHandler()) {
    accumulated_.append(std::string_view(data, size));
  } else {
    deliver([task = dataTask(), chunk = Data(std::vector<std::uint8_t>(data, data + size))](
                URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) { d.didReceiveData(s, task, chunk); });
  }
  return true;
}

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

std::chrono::steady_clock::time_point Transfer::deadline() const {
  if (!easy_ || suspended_ || backpressurePaused_) return SteadyClock::time_point::max();
  return std::min(lastActivity_ + hopIdle_, resourceDeadline_);
}

// ---- redirects, challenges, trust ----

void Transfer::handleRedirect() {
  if (++redirects_ > kMaxRedirects) return fail(NSURLErrorHTTPTooManyRedirects);
  auto location = hopResponse_->allHeaderFields().valueForHTTPHeaderField("Location");
  auto target = URL::URLWithString(trimAsciiWhitespace(*location), hopURL_);
  if (!target || !isHTTPScheme(*target) || !target->host() || target->host()->empty()) return acceptFinalHop();

  URLRequest next = *request_;
  next.url = *target;
  bool toGet = (status_ == 303 && next.httpMethod != "HEAD") ||
               ((status_ == 301 || status_ == 302) && next.httpMethod == "POST");
  if (toGet) {
    next.httpMethod = "GET";
    next.httpBody.reset();
    next.httpBodyStream.reset();
    next.allHTTPHeaderFields.removeValue("Content-Type");
    next.allHTTPHeaderFields.removeValue("Content-Length");
  }
  // Credentials stay with the host they were meant for.
  if (hostKey(*target) != hostKey(hopURL_)) next.allHTTPHeaderFields.removeValue("Authorization");

  if (!hasDelegate()) return onRedirectDecision(next);
  auto self = shared_from_this();
  auto completion = makeOnce<std::optional<URLRequest>>(
      [self](std::optional<URLRequest> request) {
        engine().post([self, request] { self->onRedirectDecision(request); });
      },
      [self, next] { engine().post([self, next] { self->onRedirectDecision(next); }); });
  deliver([task = task_, response = hopResponse_, next, completion](URLSessionDelegate& d,
                                                                    const std::shared_ptr<URLSession>& s) {
    d.willPerformHTTPRedirection(s, task, response, next, completion);
  });
}

void Transfer::onRedirectDecision(std::optional<URLRequest> request) {
  if (finished_) return;
  if (!request) return acceptFinalHop();
  if (!request->url || !isHTTPScheme(*request->url)) return fail(NSURLErrorUnsupportedURL);
  if (!request->url->host() || request->url->host()->empty()) return fail(NSURLErrorBadURL);
  request_ = std::make_shared<const URLRequest>(std::move(*request));
  {
    // Until now the task's current request was its original one.
    std::lock_guard lock(task_->mutex_);
    task_->currentRequest_ = request_;
  }
  if (setup_.kind == Kind::Data) {
    if (request_->httpBody) {
      setup_.bodySource = BodySource::Data;
      setup_.bodyData = std::shared_ptr<const Data>(request_, &*request_->httpBody);
    } else if (request_->httpBodyStream) {
      setup_.bodySource = BodySource::Stream;
    } else {
      setup_.bodySource = BodySource::None;
    }
  }
  beginHop();
}

void Transfer::handleChallenge() {
  auto parsed =
      parseAuthenticate(hopResponse_->allHeaderFields().valueForHTTPHeaderField("WWW-Authenticate").value_or(""));
  URLAuthenticationChallenge challenge;
  auto& space = challenge.protectionSpace;
  space.host = asciiLowercase(hopURL_.host().value_or(""));
  space.port = hopURL_.effectivePort();
  space.protocol = hopURL_.scheme().value_or("http");
  space.realm = parsed->second;
  space.authenticationMethod = parsed->first;
  std::string key = hostKey(hopURL_) + "|" + space.realm.value_or("") + "|" + space.authenticationMethod;
  challenge.previousFailureCount = failureCounts_[key];
  if (hopCredential_ && credentialHost_ == hostKey(hopURL_)) {
    challenge.proposedCredential = hopCredential_;
  } else if (auto user = hopURL_.user()) {
    auto decodedUser = stringByRemovingPercentEncoding(*user).value_or(*user);
    auto password = hopURL_.password().value_or("");
    challenge.proposedCredential =
        URLCredential::credentialWithUser(decodedUser, stringByRemovingPercentEncoding(password).value_or(password));
  }
  challenge.failureResponse = hopResponse_;

  if (!hasDelegate())
    return onChallengeDecision(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt, key,
                               challenge);
  auto self = shared_from_this();
  auto completion = makeOnce<URLSessionAuthChallengeDisposition, std::optional<URLCredential>>(
      [self, key, challenge](URLSessionAuthChallengeDisposition d, std::optional<URLCredential> c) {
        engine().post([self, key, challenge, d, c] { self->onChallengeDecision(d, c, key, challenge); });
      },
      [self, key, challenge] {
        engine().post([self, key, challenge] {
          self->onChallengeDecision(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt, key,
                                    challenge);
        });
      });
  deliver([task = task_, challenge, completion](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didReceiveChallenge(s, task, challenge, completion);
  });
}

void Transfer::onChallengeDecision(URLSessionAuthChallengeDisposition disposition,
                                   std::optional<URLCredential> credential, const std::string& spaceKey,
                                   const URLAuthenticationChallenge& challenge) {
  if (finished_) return;
  const std::string& method = challenge.protectionSpace.authenticationMethod;
  switch (disposition) {
    case URLSessionAuthChallengeDisposition::UseCredential:
      if (credential && credential->user) return useCredential(*credential, spaceKey, method);
      return acceptFinalHop();
    case URLSessionAuthChallengeDisposition::PerformDefaultHandling:
      // Only a credential written in the URL, and only once.
      if (challenge.previousFailureCount == 0 && challenge.proposedCredential && !hopCredential_)
        return useCredential(*challenge.proposedCredential, spaceKey, method);
      return acceptFinalHop();
    case URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge: return fail(NSURLErrorCancelled);
    case URLSessionAuthChallengeDisposition::RejectProtectionSpace: return acceptFinalHop();
  }
}

void Transfer::useCredential(const URLCredential& credential, const std::string& spaceKey, const std::string& method) {
  ++failureCounts_[spaceKey];
  hopCredential_ = credential;
  hopAuthMethod_ = method;
  credentialHost_ = hostKey(hopURL_);
  beginHop();
}

void Transfer::askServerTrust(const URL& url) {
  std::string key = hostKey(url);
  URLAuthenticationChallenge challenge;
  auto& space = challenge.protectionSpace;
  space.host = asciiLowercase(url.host().value_or(""));
  space.port = url.effectivePort();
  space.protocol = "https";
  space.authenticationMethod = NSURLAuthenticationMethodServerTrust;
  space.serverTrust = std::make_shared<SecTrust>(space.host, space.port);
  auto self = shared_from_this();
  auto completion = makeOnce<URLSessionAuthChallengeDisposition, std::optional<URLCredential>>(
      [self, key](URLSessionAuthChallengeDisposition d, std::optional<URLCredential> c) {
        engine().post([self, key, d, c] { self->onServerTrustDecision(key, d, c); });
      },
      [self, key] {
        engine().post([self, key] {
          self->onServerTrustDecision(key, URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        });
      });
  deliver([task = task_, challenge, completion](URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
    d.didReceiveChallenge(s, task, challenge, completion);
  });
}

void Transfer::onServerTrustDecision(const std::string& hostKey, URLSessionAuthChallengeDisposition disposition,
                                     std::optional<URLCredential> credential) {
  if (finished_) return;
  if (disposition == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge)
    return fail(NSURLErrorCancelled);
  // Only a trust accepted without evaluation turns certificate checks off.
  bool acceptedUnevaluated = disposition == URLSessionAuthChallengeDisposition::UseCredential && credential &&
                             credential->trust && !credential->trust->wasEvaluated();
  trustDecisions_[hostKey] = !acceptedUnevaluated;
  beginHop();
}

// ---- completion ----

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
