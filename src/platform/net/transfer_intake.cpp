#include "platform/net/transfer.h"

#include "platform/foundation/ascii.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <filesystem>

#include "platform/net/http_cookie.h"
#include "platform/net/transfer_internal.h"
#include "platform/net/url_error.h"

// Header and body intake: the answer's lines, its response, and where its body goes.

namespace net_detail {

namespace {

// Body bytes held while the delegate decides on the response; beyond this the socket waits.
constexpr std::size_t kMaxPending = 4u << 20;
// A redirect or challenge answer's body is kept in case it becomes the final response.
constexpr std::size_t kMaxCollected = 1u << 20;

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

}  // namespace

size_t Transfer::headerCallback(char* buffer, size_t size, size_t nitems, void* userdata) {
  auto* self = static_cast<Transfer*>(userdata);
  self->onHeader(std::string_view(buffer, size * nitems));
  return size * nitems;
}

size_t Transfer::writeCallback(char* ptr, size_t size, size_t nmemb, void* userdata) {
  return static_cast<Transfer*>(userdata)->onWrite(ptr, size * nmemb);
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
  // Counted after decoding: a small compressed answer may still unpack into a huge one. Passed,
  // the transfer stops here, before curl unpacks any more of it.
  if (answerBytes_ + static_cast<std::int64_t>(size) > bodyCap_) {
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
    releaseHeldResponse();
    heldResponse_ =
        InlineCall(delegateCall([task = dataTask(), response = std::shared_ptr<const URLResponse>(hopResponse_)](
                                    URLSessionDelegate& d, const std::shared_ptr<URLSession>& s) {
          d.didReceiveResponse(s, task, response, [](URLSessionResponseDisposition) {});
        }));
    heldQueue_ = session_->delegateQueue();
    heldTurn_ = engine().turn();
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

}  // namespace net_detail
