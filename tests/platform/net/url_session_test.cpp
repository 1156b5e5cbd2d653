#include "platform/net/url_session.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/foundation/run_loop.h"
#include "platform/net/url_error.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"
#include "support/tls_cert.h"
#include "support/virtual_time.h"

namespace {

URLRequest requestFor(const std::string& url, std::string method = "GET", std::optional<std::string> body = {},
                      HTTPHeaderFields headers = {}) {
  URLRequest request(*URL::URLWithString(url));
  request.httpMethod = std::move(method);
  request.allHTTPHeaderFields = std::move(headers);
  if (body) request.httpBody = Data::fromString(*body);
  return request;
}

// Records every callback as one line, marking one that arrives off the main run loop.
class RecordingDelegate : public URLSessionDelegate {
 public:
  std::vector<std::string> events;
  Data body;
  std::shared_ptr<const URLResponse> response;
  std::optional<NSError> error;
  int completions = 0;
  std::size_t inFlightAtCompletion = 0;
  bool invalidated = false;

  std::function<void(const URLRequest&, RedirectCompletion)> onRedirect;
  std::function<void(const URLAuthenticationChallenge&, ChallengeCompletion)> onChallenge;
  std::function<void(ResponseCompletion)> onResponse;
  std::function<void(BodyStreamCompletion)> onNeedStream;
  bool asksForDisposition = true;

  void note(std::string event) { events.push_back(RunLoop::isMainThread() ? event : event + " off main"); }

  void didBecomeInvalidWithError(const std::shared_ptr<URLSession>&, const std::optional<NSError>&) override {
    note("invalid");
    invalidated = true;
  }
  void willPerformHTTPRedirection(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                                  const std::shared_ptr<const HTTPURLResponse>& r, const URLRequest& newRequest,
                                  RedirectCompletion completion) override {
    note("redirect " + std::to_string(r->statusCode()));
    if (onRedirect) return onRedirect(newRequest, completion);
    completion(newRequest);
  }
  void didReceiveChallenge(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                           const URLAuthenticationChallenge& challenge, ChallengeCompletion completion) override {
    note("challenge " + challenge.protectionSpace.authenticationMethod + " " +
         std::to_string(challenge.previousFailureCount));
    if (onChallenge) return onChallenge(challenge, completion);
    completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
  }
  void needNewBodyStream(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                         BodyStreamCompletion completion) override {
    note("stream");
    if (onNeedStream) return onNeedStream(completion);
    completion(nullptr);
  }
  void didSendBodyData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&, std::int64_t,
                       std::int64_t total, std::int64_t expected) override {
    if (total == expected || expected < 0) note("sent " + std::to_string(total));
  }
  void didCompleteWithError(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<NSError>& e) override {
    note((e ? "complete " + std::to_string(e->code) : "complete") +
         (task->state() == URLSessionTaskState::Completed ? "" : " early"));
    error = e;
    inFlightAtCompletion = URLSession::transfersInFlight();
    ++completions;
  }
  void didReceiveResponse(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDataTask>&,
                          const std::shared_ptr<const URLResponse>& r, ResponseCompletion completion) override {
    auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(r);
    note("response " + std::to_string(http ? http->statusCode() : 0));
    response = r;
    if (onResponse) return onResponse(completion);
    completion(URLSessionResponseDisposition::Allow);
  }
  bool wantsResponseDisposition(const std::shared_ptr<URLSessionDataTask>&) override { return asksForDisposition; }
  void didBecomeDownloadTask(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDataTask>&,
                             const std::shared_ptr<URLSessionDownloadTask>&) override {
    note("became download");
  }
  void didReceiveData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDataTask>&,
                      const Data& data) override {
    if (events.empty() || events.back() != "data") note("data");
    body.append(data);
  }
  void didFinishDownloadingToURL(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDownloadTask>&,
                                 const URL& location) override {
    note("downloaded");
    std::ifstream in(location.path(), std::ios::binary);
    body = Data::fromString(std::string(std::istreambuf_iterator<char>(in), {}));
    downloadedPath = location.path();
  }
  void didWriteData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDownloadTask>&, std::int64_t,
                    std::int64_t total, std::int64_t expected) override {
    if (total == expected) note("written " + std::to_string(total));
  }
  void didResumeAtOffset(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDownloadTask>&,
                         std::int64_t offset, std::int64_t expected) override {
    note("resumed " + std::to_string(offset) + " of " + std::to_string(expected));
  }
  std::string downloadedPath;
};

// A loopback host that answers each request head with `head(n)` (n counts the requests), then
// `bytes` body bytes, one every `every` seconds (never idle that long, however long the whole
// answer takes), and keeps every request head. What FakeBackend cannot: drip a body, or read
// header lines of any length.
class RawHost {
 public:
  explicit RawHost(std::function<std::string(int)> head, int bytes = 0, double every = 0)
      : head_(std::move(head)), bytes_(bytes), every_(every) {
    thread_ = std::thread([this] { serve(); });
  }
  ~RawHost() {
    stopping_ = true;
    thread_.join();
    for (const auto& connection : connections_)
      if (connection.fd >= 0) ::close(connection.fd);
  }
  std::string url(const std::string& path) const { return listener_.url(path); }
  int connections() const { return accepted_.load(); }
  std::vector<std::string> heads() const {
    std::lock_guard lock(mutex_);
    return heads_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd;
    std::string read;
    int left = 0;  // body bytes still to write
    Clock::time_point next{};
  };
  void serve() {
    std::vector<char> buffer(65536);
    while (!stopping_) {
      std::vector<pollfd> fds{{listener_.fd(), POLLIN, 0}};
      for (const auto& connection : connections_) fds.push_back({connection.fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), 10);
      if (fds[0].revents & POLLIN) {
        const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) connections_.push_back({fd, {}}), ++accepted_;
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        auto& connection = connections_[i - 1];
        if (connection.fd < 0) continue;
        ssize_t n = 0;
        if ((fds[i].revents & POLLIN) && (n = ::read(connection.fd, buffer.data(), buffer.size())) <= 0) {
          ::close(std::exchange(connection.fd, -1));  // poll passes over it from now on
          continue;
        }
        connection.read.append(buffer.data(), static_cast<std::size_t>(n));
        if (const auto end = connection.read.find("\r\n\r\n"); connection.left == 0 && end != std::string::npos) {
          int count = 0;
          {
            std::lock_guard lock(mutex_);
            heads_.push_back(connection.read.substr(0, end + 2));  // each line with its end
            count = static_cast<int>(heads_.size());
          }
          connection.read.erase(0, end + 4);
          send(connection, head_(count - 1));
          connection.left = bytes_;
          connection.next = Clock::now() + period();
        }
        if (connection.left > 0 && Clock::now() >= connection.next) {
          send(connection, "x");
          --connection.left;
          connection.next += period();
        }
      }
    }
  }
  Clock::duration period() const {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(every_));
  }
  static void send(const Connection& connection, const std::string& bytes) {
    if (::send(connection.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) ADD_FAILURE() << "send";
  }

  std::function<std::string(int)> head_;
  int bytes_;
  double every_;
  LoopbackListener listener_{64};
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> heads_;
  std::vector<Connection> connections_;  // server thread only, until it is joined
  std::thread thread_;
};

class URLSessionTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kBodyLimit = 400000;

  void SetUp() override {
    delegate = std::make_shared<RecordingDelegate>();
    storage = HTTPCookieStorage::make();
    auto configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
    configuration.maximumResponseBodySize = kBodyLimit;
    configuration.httpCookieStorage = storage;
    configuration.httpCookieAcceptPolicy = HTTPCookieAcceptPolicy::Always;
    session = URLSession::sessionWithConfiguration(configuration, delegate, DispatchQueue::main());
  }
  void TearDown() override {
    session->invalidateAndCancel();
    time.runUntil([&] { return delegate->invalidated; });
  }

  // Runs one task to completion on the main run loop, recording afresh.
  void run(const std::shared_ptr<URLSessionTask>& task) {
    delegate->events.clear();
    delegate->body = {};
    int before = delegate->completions;
    task->resume();
    ASSERT_TRUE(time.runUntil([&] { return delegate->completions > before; }));
  }

  struct Answer {
    std::optional<Data> data;
    std::shared_ptr<const HTTPURLResponse> response;
    std::optional<NSError> error;
  };
  Answer fetch(const URLRequest& request) {
    auto answer = std::make_shared<std::optional<Answer>>();
    session
        ->dataTaskWithRequest(
            request,
            [answer](std::optional<Data> d, std::shared_ptr<const URLResponse> r, std::optional<NSError> e) {
              EXPECT_TRUE(RunLoop::isMainThread());
              *answer = Answer{std::move(d), std::dynamic_pointer_cast<const HTTPURLResponse>(r), std::move(e)};
            })
        ->resume();
    EXPECT_TRUE(time.runUntil([&] { return answer->has_value(); }));
    return answer->value_or(Answer{std::nullopt, nullptr, URLError(NSURLErrorUnknown)});
  }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<RecordingDelegate> delegate;
  std::shared_ptr<HTTPCookieStorage> storage;
  std::shared_ptr<URLSession> session;
};

TEST_F(URLSessionTest, SendsMethodHeadersAndBodyExactlyAsTheRequestSays) {
  server.reply("POST", "/items",
               {.status = 201,
                .headers = {{"X-Reply", "yes"}},
                .body = "{\"id\":7}",
                .contentType = "application/json; charset=utf-8"});
  // The Content-Length is wrong on purpose: the real length is sent.
  auto answer =
      fetch(requestFor(server.url("items?a=1&b=two"), "POST", "{\"name\":\"\xC3\xA9\"}",
                       {{"Content-Type", "application/json"}, {"Content-Length", "999"}, {"X-Custom", "first"}}));

  ASSERT_TRUE(answer.response && answer.data);
  EXPECT_EQ(std::tuple(answer.response->statusCode(), answer.response->valueForHTTPHeaderField("x-reply"),
                       answer.response->mimeType(), answer.response->textEncodingName(), answer.data->toString()),
            std::tuple(201, "yes", "application/json", "utf-8", "{\"id\":7}"));
  auto sent = server.lastRequest();
  ASSERT_TRUE(sent);
  EXPECT_EQ(std::tie(sent->method, sent->path, sent->query, sent->body),
            std::tuple("POST", "/items", "a=1&b=two", "{\"name\":\"\xC3\xA9\"}"));
  EXPECT_EQ(std::tuple(sent->header("Content-Type"), sent->header("Content-Length"), sent->header("X-Custom"),
                       sent->hasHeader("Expect")),
            std::tuple("application/json", std::to_string(sent->body.size()), "first", false));

  // Absent and empty bodies differ; curl adds no form content type of its own.
  auto put = requestFor(server.url("items"), "PUT");
  fetch(put);
  EXPECT_EQ(std::tuple(server.lastRequest()->method, server.lastRequest()->hasHeader("Content-Length")),
            std::tuple("PUT", false));
  put.httpBody = Data();
  fetch(put);
  EXPECT_EQ(std::tuple(server.lastRequest()->header("Content-Length"), server.lastRequest()->hasHeader("Content-Type")),
            std::tuple("0", false));

  // HEAD: a response and no body; a GET with an empty answer is an empty body, not nothing.
  EXPECT_EQ(fetch(requestFor(server.url("items"), "HEAD")).data, Data());
  EXPECT_EQ(server.lastRequest()->method, "HEAD");
  EXPECT_EQ(fetch(requestFor(server.url("nothing"))).data, Data());
}

// Requests run one after another reuse the engine's easy handles, some without a reset in
// between: nothing one request set (method, body, credentials, resend guard) may reach the next.
TEST_F(URLSessionTest, ReusedEasyHandlesCarryNothingFromEarlierRequests) {
  server.reply("GET", "/page", {.body = "page"});
  server.reply("HEAD", "/page", {.body = "page"});
  ScriptedReply denied{.status = 401, .headers = {{"WWW-Authenticate", "Basic realm=\"quiz\""}}, .body = "denied"};
  server.replies("POST", "/private", {denied, {.body = "posted"}});
  delegate->onChallenge = [](const URLAuthenticationChallenge&, URLSessionDelegate::ChallengeCompletion done) {
    done(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::credentialWithUser("ann", "pw"));
  };
  auto headersOf = [](const RecordedRequest& request) {
    auto headers = request.headers;
    for (auto& [name, value] : headers)
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::sort(headers.begin(), headers.end());
    return headers;
  };
  // What a plain GET sends on a handle fresh from curl.
  ASSERT_EQ(fetch(requestFor(server.url("page"))).data, Data::fromString("page"));
  const auto plainGet = headersOf(*server.lastRequest());
  auto expectPlainGet = [&](const char* after) {
    SCOPED_TRACE(after);
    auto answer = fetch(requestFor(server.url("page")));
    EXPECT_EQ(std::tuple(answer.error.has_value(), answer.data), std::tuple(false, Data::fromString("page")));
    auto sent = server.lastRequest();
    ASSERT_TRUE(sent);
    EXPECT_EQ(std::tuple(sent->method, sent->body, headersOf(*sent)), std::tuple("GET", "", plainGet));
  };

  // A POST with a body and credentials, answered after a challenge.
  auto posted = fetch(requestFor(server.url("private"), "POST", "{\"score\":3}"));
  EXPECT_EQ(posted.data, Data::fromString("posted"));
  EXPECT_EQ(std::tuple(server.lastRequest()->method, server.lastRequest()->body,
                       server.lastRequest()->header("Authorization")),
            std::tuple("POST", "{\"score\":3}", "Basic YW5uOnB3"));
  expectPlainGet("after a POST with credentials");

  auto head = fetch(requestFor(server.url("page"), "HEAD"));
  EXPECT_EQ(std::tuple(head.data, server.lastRequest()->method), std::tuple(Data(), "HEAD"));
  expectPlainGet("after a HEAD");
  expectPlainGet("after a GET");

  // Methods of their own, bodies from memory, then plain again.
  fetch(requestFor(server.url("page"), "PUT", "put body"));
  EXPECT_EQ(std::tuple(server.lastRequest()->method, server.lastRequest()->body), std::tuple("PUT", "put body"));
  expectPlainGet("after a PUT");
  fetch(requestFor(server.url("page"), "DELETE"));
  EXPECT_EQ(server.lastRequest()->method, "DELETE");
  head = fetch(requestFor(server.url("page"), "HEAD"));
  EXPECT_EQ(std::tuple(head.data, server.lastRequest()->method), std::tuple(Data(), "HEAD"));
  fetch(requestFor(server.url("page"), "POST", ""));
  EXPECT_EQ(std::tuple(server.lastRequest()->method, server.lastRequest()->header("Content-Length")),
            std::tuple("POST", "0"));
  expectPlainGet("after an empty POST");

  // Requests with bodies from memory go from handle to handle of their kind without a reset: the
  // last one's body, length or method may not reach the next.
  auto expectSent = [&](const char* method, const char* body, std::optional<std::string> length) {
    auto sent = server.lastRequest();
    ASSERT_TRUE(sent);
    EXPECT_EQ(std::tuple(sent->method, sent->body, sent->header("Content-Length")), std::tuple(method, body, length));
  };
  fetch(requestFor(server.url("page"), "PUT", "first body"));
  fetch(requestFor(server.url("page"), "DELETE"));
  expectSent("DELETE", "", std::nullopt);
  fetch(requestFor(server.url("page"), "POST", "a body longer than the next"));
  fetch(requestFor(server.url("page"), "POST", "short"));
  expectSent("POST", "short", "5");
  fetch(requestFor(server.url("page"), "POST"));
  expectSent("POST", "", std::nullopt);
  fetch(requestFor(server.url("page"), "PATCH", "patch"));
  expectSent("PATCH", "patch", "5");
  expectPlainGet("after bodies from memory");

  // Credentials written in the URL go with that request only.
  auto withUser = server.url("page");
  withUser.insert(withUser.find("//") + 2, "ann:pw@");
  fetch(requestFor(withUser));
  expectPlainGet("after a URL with credentials");

  // A GET that asks for more headers, and one cancelled half way.
  fetch(requestFor(server.url("page"), "GET", std::nullopt, {{"X-Extra", "1"}, {"Accept-Encoding", "identity"}}));
  EXPECT_EQ(server.lastRequest()->header("X-Extra"), "1");
  expectPlainGet("after a GET with headers of its own");
  server.reply("GET", "/slow", {.body = "late", .delay = 5});
  auto slow = session->dataTaskWithRequest(requestFor(server.url("slow")), [](auto, auto, auto) {});
  const auto before = server.requestCount();
  slow->resume();
  ASSERT_TRUE(server.waitForRequestCount(before + 1));
  slow->cancel();
  expectPlainGet("after a cancelled GET");
}

TEST_F(URLSessionTest, DelegateCallbacksArriveInOrderOnTheDelegateQueue) {
  server.reply("GET", "/big", {.body = std::string(300000, 'x'), .contentType = "application/octet-stream"});
  auto task = session->dataTaskWithRequest(requestFor(server.url("big")));
  EXPECT_EQ(task->state(), URLSessionTaskState::Suspended);
  run(task);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200", "data", "complete"}));
  EXPECT_EQ(std::tuple(delegate->body.size(), task->countOfBytesReceived(), task->countOfBytesExpectedToReceive()),
            std::tuple(300000u, 300000, 300000));
  EXPECT_EQ(task->response(), delegate->response);

  // Cancel from the response disposition: no data, one -999.
  delegate->onResponse = [](URLSessionDelegate::ResponseCompletion c) { c(URLSessionResponseDisposition::Cancel); };
  run(session->dataTaskWithRequest(requestFor(server.url("big"))));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200", "complete -999"}));

  // The rest of the answer can go to a file instead.
  delegate->onResponse = [](URLSessionDelegate::ResponseCompletion c) {
    c(URLSessionResponseDisposition::BecomeDownload);
  };
  run(session->dataTaskWithRequest(requestFor(server.url("big"))));
  EXPECT_EQ(delegate->events,
            (std::vector<std::string>{"response 200", "became download", "written 300000", "downloaded", "complete"}));
  EXPECT_EQ(delegate->body.size(), 300000u);

  // A dropped disposition handler acts as Allow instead of stalling the task.
  delegate->onResponse = [](URLSessionDelegate::ResponseCompletion) {};
  run(session->dataTaskWithRequest(requestFor(server.url("big"))));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200", "data", "complete"}));
}

// A response the delegate is told of, not asked about, waits for its body to go out with it; a
// body that does not follow soon may not keep it from the delegate.
TEST_F(URLSessionTest, AToldResponseReachesTheDelegateEvenWhileItsBodyWaits) {
  delegate->asksForDisposition = false;
  server.reply("GET", "/small", {.body = "small"});
  run(session->dataTaskWithRequest(requestFor(server.url("small"))));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200", "data", "complete"}));
  EXPECT_EQ(delegate->body, Data::fromString("small"));

  ScriptedReply stalled{.body = "never sent"};
  stalled.stallAfterBodyBytes = 0;
  server.reply("GET", "/stalled", stalled);
  delegate->events.clear();
  const int before = delegate->completions;
  auto task = session->dataTaskWithRequest(requestFor(server.url("stalled")));
  task->resume();
  ASSERT_TRUE(time.runUntil([&] { return !delegate->events.empty(); }));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200"}));
  task->cancel();
  ASSERT_TRUE(time.runUntil([&] { return delegate->completions > before; }));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200", "complete -999"}));
}

TEST_F(URLSessionTest, FailuresMapToThePlatformCodesAndGiveNoAnswer) {
  FakeBackend::ClosedPort closed;
  server.reply("GET", "/drop", {.closeConnection = true});
  server.reply("GET", "/cut", {.body = std::string(100000, 'z'), .deflate = true, .resetAfterBodyBytes = 40});
  server.reply("GET", "/garbage", {.garbage = "\x01\x02 not http at all\r\n\r\n"});
  server.reply("GET", "/huge-header", {.headers = {{"X-Padding", std::string(200000, 'h')}}});
  server.reply("GET", "/bomb", {.body = std::string(kBodyLimit + 1, 'b'), .deflate = true});
  server.reply("GET", "/slow", {.body = "late", .delay = 5});
  const URLRequest slow(*URL::URLWithString(server.url("slow")), 0.2);
  auto withHeader = [&](const std::string& name, const std::string& value) {
    return requestFor(server.url("x"), "GET", {}, {{name, value}});
  };
  const auto injectedMethod = requestFor(server.url("x"), "GET /x HTTP/1.1\r\nX-Injected: yes\r\n\r\nGET");
  const std::vector<std::pair<URLRequest, long>> rows = {
      {requestFor(closed.url("x")), NSURLErrorCannotConnectToHost},
      {requestFor(server.url("drop")), NSURLErrorNetworkConnectionLost},
      {requestFor(server.url("cut")), NSURLErrorNetworkConnectionLost},
      {requestFor(server.url("garbage")), NSURLErrorBadServerResponse},
      {requestFor(server.url("huge-header")), NSURLErrorBadServerResponse},
      {slow, NSURLErrorTimedOut},
      {requestFor("ftp://127.0.0.1/file"), NSURLErrorUnsupportedURL},
      {URLRequest(), NSURLErrorUnsupportedURL},
      {withHeader("Authorization", "Bearer abc\r\nX-Injected: yes"), NSURLErrorBadURL},
      {withHeader("X-Injected: yes\nX-Name", "v"), NSURLErrorBadURL},
      {withHeader("X-Cut", std::string("a\0X-Injected", 13)), NSURLErrorBadURL},
      {injectedMethod, NSURLErrorBadURL},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    auto answer = fetch(rows[i].first);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(std::tuple(answer.error->domain, answer.error->code, answer.data.has_value()),
              std::tuple(NSURLErrorDomain, rows[i].second, false));
  }
  auto refused = fetch(injectedMethod).error;
  EXPECT_EQ(*refused->userInfo.at(NSURLErrorFailingURLStringErrorKey).asString(), server.url("x"));
  EXPECT_NE(refused->localizedDescription().find("line break"), std::string::npos);
  for (const auto& request : server.requests()) EXPECT_NE(request.path, "/x");

  // The limit counts decoded bytes and stops the transfer before more than it is taken in.
  server.reply("GET", "/limit", {.body = std::string(kBodyLimit, 'l'), .deflate = true});
  EXPECT_EQ(fetch(requestFor(server.url("limit"))).data->size(), kBodyLimit);
  auto task = session->dataTaskWithRequest(requestFor(server.url("bomb")));
  run(task);
  EXPECT_EQ(delegate->error->code, NSURLErrorDataLengthExceedsMaximum);
  EXPECT_LE(task->countOfBytesReceived(), static_cast<std::int64_t>(kBodyLimit));
}

TEST_F(URLSessionTest, RequestsThatAreNotIdempotentAreNeverSentTwice) {
  // A connection that dies before answering: curl would resend on a fresh one.
  server.reply("POST", "/drop", {.closeConnection = true});
  server.reply("GET", "/drop", {.closeConnection = true});
  ASSERT_FALSE(fetch(requestFor(server.url("warm"))).error);
  auto lost = fetch(requestFor(server.url("drop"), "POST", "{\"score\":3}")).error;
  ASSERT_TRUE(lost);
  EXPECT_EQ(std::tuple(lost->code, *lost->userInfo.at(NSURLErrorFailingURLStringErrorKey).asString()),
            std::tuple(NSURLErrorNetworkConnectionLost, server.url("drop")));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].remotePort, requests[0].remotePort);  // it went out on the warm connection

  // An idempotent request keeps curl's one resend on a new connection.
  ASSERT_FALSE(fetch(requestFor(server.url("warm"))).error);
  server.clearRequests();
  EXPECT_EQ(fetch(requestFor(server.url("drop"))).error->code, NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(URLSessionTest, CancelDeliversCancelledOnce) {
  server.reply("GET", "/slow", {.body = "late", .delay = 5});
  auto task = session->dataTaskWithRequest(requestFor(server.url("slow")));
  task->resume();
  ASSERT_TRUE(server.waitForRequestCount(1));
  task->cancel();
  task->cancel();
  EXPECT_TRUE(time.runUntil([&] { return delegate->completions == 1; }));
  time.runUntilIdle();
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"complete -999"}));
  EXPECT_EQ(task->error()->code, NSURLErrorCancelled);

  // A task cancelled before it ever ran completes the same way.
  session->dataTaskWithRequest(requestFor(server.url("slow")))->cancel();
  EXPECT_TRUE(time.runUntil([&] { return delegate->completions == 2; }));
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(URLSessionTest, RedirectsAreDecidedByTheDelegate) {
  FakeBackend other;
  other.reply("GET", "/landing", {.body = "landed"});
  server.reply("POST", "/moved", {.status = 303, .headers = {{"Location", "/see"}}});
  server.reply("GET", "/see", {.status = 302, .headers = {{"Location", other.url("landing")}}, .body = "moved"});

  auto task = session->dataTaskWithRequest(
      requestFor(server.url("moved"), "POST", "form", {{"Authorization", "Bearer secret"}}));
  run(task);
  EXPECT_EQ(delegate->events,
            (std::vector<std::string>{"sent 4", "redirect 303", "redirect 302", "response 200", "data", "complete"}));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  // 303 turns the POST into a GET without body; the same host keeps the credentials.
  EXPECT_EQ(std::tuple(requests[1].method, requests[1].body, requests[1].header("Authorization")),
            std::tuple("GET", "", "Bearer secret"));
  // Another port is another origin: "Authorization" stays behind.
  ASSERT_TRUE(other.lastRequest());
  EXPECT_FALSE(other.lastRequest()->hasHeader("Authorization"));
  EXPECT_EQ(delegate->body.toString(), "landed");
  EXPECT_EQ(task->currentRequest()->url->absoluteString(), other.url("landing"));

  // Refusing delivers the 3xx itself, with its body.
  delegate->onRedirect = [](const URLRequest&, URLSessionDelegate::RedirectCompletion c) { c(std::nullopt); };
  run(session->dataTaskWithRequest(requestFor(server.url("see"))));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"redirect 302", "response 302", "data", "complete"}));
  EXPECT_EQ(delegate->body.toString(), "moved");

  // A loop ends with too many redirects.
  delegate->onRedirect = nullptr;
  server.reply("GET", "/loop", {.status = 302, .headers = {{"Location", "/loop"}}});
  run(session->dataTaskWithRequest(requestFor(server.url("loop"))));
  EXPECT_EQ(delegate->error->code, NSURLErrorHTTPTooManyRedirects);
}

// Past its connections per host a session's tasks wait for one of its own to that host to end;
// another session's task to the same host does not wait for them.
TEST_F(URLSessionTest, ASessionRunsItsConnectionsPerHostAndTheRestWait) {
  server.reply("GET", "/slow", {.body = "late", .delay = 0.3});
  auto configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
  configuration.httpMaximumConnectionsPerHost = 2;
  auto limited = URLSession::sessionWithConfiguration(configuration, nullptr, DispatchQueue::main());
  std::vector<std::string> ended;
  auto start = [&](URLSession& on, const std::string& name) {
    on.dataTaskWithRequest(requestFor(server.url("slow?" + name)), [&ended, name](std::optional<Data> data,
                                                                                  std::shared_ptr<const URLResponse>,
                                                                                  std::optional<NSError>) {
        ended.push_back(data ? name : name + " failed");
      })->resume();
  };
  for (const char* name : {"a0", "a1", "a2", "a3"}) start(*limited, name);
  ASSERT_TRUE(server.waitForRequestCount(2));
  start(*session, "b");
  ASSERT_TRUE(time.runUntil([&] { return ended.size() == 5; }, 10));
  std::vector<std::string> asked;
  for (const auto& request : server.requests()) asked.push_back(request.query);
  // Two at a time: the order within each pair is the connections' race.
  std::sort(asked.begin(), asked.begin() + 2);
  if (asked.size() == 5) std::sort(asked.begin() + 3, asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{"a0", "a1", "b", "a2", "a3"}));
  const auto at = [&](const char* name) { return std::find(ended.begin(), ended.end(), name) - ended.begin(); };
  EXPECT_LT(at("b"), std::min(at("a2"), at("a3")));
}

TEST_F(URLSessionTest, RequestsWaitingForAConnectionTimeOutAsSoonAsTheRunningOnes) {
  const auto hung = bindLoopback(64);  // connections wait in its backlog, never answered
  auto configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
  configuration.timeoutIntervalForRequest = 1;
  auto limited = URLSession::sessionWithConfiguration(configuration, nullptr, DispatchQueue::main());
  std::vector<long> codes;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 14; ++i) {
    limited
        ->dataTaskWithRequest(requestFor("http://127.0.0.1:" + std::to_string(hung.port) + "/"),
                              [&](std::optional<Data>, std::shared_ptr<const URLResponse>, std::optional<NSError> e) {
                                codes.push_back(e ? e->code : 0);
                              })
        ->resume();
  }
  time.runUntil([&] { return codes.size() == 14; }, 5);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(hung.fd);
  EXPECT_EQ(codes, std::vector<long>(14, NSURLErrorTimedOut));
  EXPECT_LT(seconds, 1.5);
}

// The waiter's own timer ends its wait: the running answers, never idle, end much later.
TEST_F(URLSessionTest, ARequestWaitingForAConnectionTimesOutWhileTheRunningOnesStillReceive) {
  RawHost host([](int) { return "HTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\n"; }, 14, 0.3);  // 4.2 s
  auto configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
  configuration.timeoutIntervalForRequest = 1;
  auto limited = URLSession::sessionWithConfiguration(configuration, nullptr, DispatchQueue::main());
  std::vector<long> codes;
  std::optional<long> waiter;
  double waited = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 7; ++i) {
    limited
        ->dataTaskWithRequest(
            requestFor(host.url(std::to_string(i))),
            [&, i](std::optional<Data>, std::shared_ptr<const URLResponse> response, std::optional<NSError> e) {
              auto* http = dynamic_cast<const HTTPURLResponse*>(response.get());
              const long code = e ? e->code : http ? http->statusCode() : 0;
              if (i < 6) return codes.push_back(code);
              waiter = code;
              waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            })
        ->resume();
  }
  ASSERT_TRUE(time.runUntil([&] { return codes.size() == 6 && waiter; }, 10));
  EXPECT_EQ(std::pair(*waiter, codes), std::pair(long{NSURLErrorTimedOut}, std::vector<long>(6, 200)));
  EXPECT_LT(waited, 2.0);
  EXPECT_EQ(host.connections(), 6) << "the waiter was never sent";
}

TEST_F(URLSessionTest, CookiesAreStoredAndSentBack) {
  server.reply(
      "GET", "/login",
      {.headers = {{"Set-Cookie", "session=abc; Path=/; HttpOnly"}, {"Set-Cookie", "theme=dark; Max-Age=3600"}}});
  fetch(requestFor(server.url("login")));
  EXPECT_EQ(storage->cookies().size(), 2u);
  fetch(requestFor(server.url("profile")));
  EXPECT_EQ(server.lastRequest()->header("Cookie"), "session=abc; theme=dark");

  auto noCookies = requestFor(server.url("profile"));
  noCookies.httpShouldHandleCookies = false;
  fetch(noCookies);
  EXPECT_FALSE(server.lastRequest()->hasHeader("Cookie"));
}

// One backend that sets new cookies without end: the jar keeps the ones it set last, and a request
// carries no more than a domain's share.
TEST_F(URLSessionTest, TheJarKeepsADomainsLatestCookiesAndSendsOnlyThose) {
  const std::string value(3990, 'v');
  auto name = [](int answer, int i) { return "c" + std::to_string(answer) + "_" + std::to_string(i); };
  RawHost host([&](int answer) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n";
    for (int i = 0; i < 60 && answer < 100; ++i) head += "Set-Cookie: " + name(answer, i) + "=" + value + "\r\n";
    return head + "\r\n";
  });
  for (int answer = 0; answer <= 100; ++answer) {
    const auto response = fetch(requestFor(host.url("set"))).response;
    ASSERT_EQ(response ? response->statusCode() : 0, 200) << "answer " << answer;
  }
  std::vector<std::string> kept, last;
  for (const auto& cookie : storage->cookies()) kept.push_back(cookie.name);
  std::string carried;
  for (int i = 10; i < 60; ++i) {
    last.push_back(name(99, i));
    carried += (carried.empty() ? "" : "; ") + name(99, i) + "=" + value;
  }
  EXPECT_EQ(kept, last);
  const auto heads = host.heads();
  ASSERT_EQ(heads.size(), 101u);
  EXPECT_NE(heads.back().find("\r\nCookie: " + carried + "\r\n"), std::string::npos);
}

TEST_F(URLSessionTest, BasicChallengeIsAnsweredByTheDelegate) {
  ScriptedReply denied{.status = 401, .headers = {{"WWW-Authenticate", "Basic realm=\"quiz\""}}, .body = "denied"};
  server.replies("GET", "/private", {denied, denied, {.body = "secret"}});
  std::vector<long> failureCounts;
  delegate->onChallenge = [&](const URLAuthenticationChallenge& c, URLSessionDelegate::ChallengeCompletion done) {
    EXPECT_EQ(std::tuple(c.protectionSpace.realm, c.protectionSpace.port), std::tuple("quiz", server.port()));
    failureCounts.push_back(c.previousFailureCount);
    done(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::credentialWithUser("ann", "pw"));
  };
  run(session->dataTaskWithRequest(requestFor(server.url("private"))));
  EXPECT_EQ(std::pair(failureCounts, delegate->body.toString()),
            std::pair(std::vector<long>{0, 1}, std::string("secret")));
  EXPECT_EQ(server.lastRequest()->header("Authorization"), "Basic YW5uOnB3");  // ann:pw

  // Digest: curl answers the nonce itself, inside one hop; that second send of a POST is no resend.
  ScriptedReply digest{.status = 401,
                       .headers = {{"WWW-Authenticate", "Digest realm=\"quiz\", nonce=\"abc\", qop=\"auth\""}}};
  server.replies("POST", "/digest", {digest, digest, {.body = "digested"}});
  failureCounts.clear();
  run(session->dataTaskWithRequest(requestFor(server.url("digest"), "POST", "form")));
  EXPECT_EQ(std::tuple(delegate->error.has_value(), failureCounts, delegate->body.toString()),
            std::tuple(false, std::vector<long>{0}, "digested"));
  EXPECT_EQ(server.lastRequest()->header("Authorization").value_or("").rfind("Digest username=\"ann\"", 0), 0u);

  // Default handling without a credential hands over the 401 as the answer.
  delegate->onChallenge = nullptr;
  server.reply("GET", "/private", denied);
  run(session->dataTaskWithRequest(requestFor(server.url("private"))));
  EXPECT_EQ(std::tuple(delegate->events[1], delegate->body.toString(), delegate->error.has_value()),
            std::tuple("response 401", "denied", false));
}

TEST_F(URLSessionTest, SelfSignedServerIsRefusedUnlessTrustIsAcceptedUnevaluated) {
  EXPECT_EQ(URLSessionConfiguration().tlsMinimumSupportedProtocol, SSLProtocol::kTLSProtocol12);
  auto certificate = SelfSignedCertificate::make();
  if (!certificate) GTEST_SKIP() << "openssl is not available";
  FakeBackend tls(FakeBackend::TLS{certificate->certificatePath(), certificate->privateKeyPath()});
  tls.reply("GET", "/hello", {.body = "over tls"});

  run(session->dataTaskWithRequest(requestFor(tls.url("hello"))));
  EXPECT_EQ(std::tuple(delegate->events.front(), delegate->error.value_or(NSError()).code),
            std::tuple("challenge NSURLAuthenticationMethodServerTrust 0", NSURLErrorServerCertificateUntrusted));

  // Evaluating the trust keeps verification on.
  bool evaluate = true;
  delegate->onChallenge = [&](const URLAuthenticationChallenge& c, URLSessionDelegate::ChallengeCompletion done) {
    if (evaluate) c.protectionSpace.serverTrust->evaluate();
    done(URLSessionAuthChallengeDisposition::UseCredential,
         URLCredential::credentialForTrust(c.protectionSpace.serverTrust));
  };
  run(session->dataTaskWithRequest(requestFor(tls.url("hello"))));
  EXPECT_EQ(delegate->error->code, NSURLErrorServerCertificateUntrusted);

  evaluate = false;
  run(session->dataTaskWithRequest(requestFor(tls.url("hello"))));
  EXPECT_EQ(std::pair(delegate->error.has_value(), delegate->body.toString()),
            std::pair(false, std::string("over tls")));
}

TEST_F(URLSessionTest, UploadsAndDownloads) {
  server.reply("PUT", "/file", {.status = 307, .headers = {{"Location", "/file2"}}});
  server.reply("PUT", "/file2", {.body = "stored"});
  const auto request = requestFor(server.url("file"), "PUT");
  int streamsGiven = 0;
  delegate->onNeedStream = [&](URLSessionDelegate::BodyStreamCompletion done) {
    ++streamsGiven;
    done(InputStream::inputStreamWithData(Data::fromString("streamed body")));
  };
  run(session->uploadTaskWithStreamedRequest(request));
  // The 307 resends the body, from a fresh stream.
  ASSERT_EQ(server.requestCount(), 2u);
  EXPECT_EQ(std::tuple(streamsGiven, server.requests()[1].body, server.requests()[1].header("Transfer-Encoding"),
                       delegate->body.toString()),
            std::tuple(2, "streamed body", "chunked", "stored"));

  // An in-memory body is resent as well.
  auto fromMemory = session->uploadTaskWithRequest(request, Data::fromString("memory body"));
  run(fromMemory);
  EXPECT_EQ(std::tuple(server.lastRequest()->path, server.lastRequest()->body), std::tuple("/file2", "memory body"));
  EXPECT_EQ(fromMemory->countOfBytesExpectedToSend(), 11);

  TempDir dir("net_upload");
  std::ofstream(dir.path() / "body") << "file body";
  auto upload = session->uploadTaskWithRequest(requestFor(server.url("upload"), "POST"),
                                               URL::fileURLWithPath(dir.str() + "/body"));
  run(upload);
  EXPECT_EQ(std::tuple(server.lastRequest()->body, upload->countOfBytesSent(), delegate->events.front()),
            std::tuple("file body", 9, "sent 9"));

  server.reply("GET", "/download", {.body = std::string(100000, 'd'), .contentType = "application/octet-stream"});
  run(session->downloadTaskWithRequest(requestFor(server.url("download"))));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"written 100000", "downloaded", "complete"}));
  EXPECT_EQ(std::pair(delegate->body.size(), std::filesystem::exists(delegate->downloadedPath)),
            std::pair(std::size_t{100000}, false));

  // With a handler the file is there while the handler runs, and gone after.
  std::string handed, content;
  session
      ->downloadTaskWithRequest(requestFor(server.url("download")),
                                [&](std::optional<URL> location, auto, auto) {
                                  handed = location ? location->path() : "none";
                                  std::ifstream in(handed, std::ios::binary);
                                  content = std::string(std::istreambuf_iterator<char>(in), {});
                                })
      ->resume();
  ASSERT_TRUE(time.runUntil([&] { return !handed.empty(); }));
  EXPECT_EQ(std::pair(content.size(), std::filesystem::exists(handed)), std::pair(std::size_t{100000}, false));
}
TEST(URLSessionThreadsTest, TasksDroppedOnManyThreadsNeverStallTheSession) {
  // A task whose last reference dies inside the session's bookkeeping must not take the
  // session's lock again from its destructor.
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
  const URL url = *URL::URLWithString("http://127.0.0.1:9/");
  auto finished = std::make_shared<std::atomic<int>>(0);
  auto allFinished = std::make_shared<std::promise<void>>();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([=] {
      for (int n = 0; n < 3000; ++n) session->dataTaskWithURL(url);
      if (++*finished == 4) allFinished->set_value();
    });
  }
  const bool done = allFinished->get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  for (auto& thread : threads) done ? thread.join() : thread.detach();
  ASSERT_TRUE(done) << "the session deadlocked";
}

// The transfer counts as in flight until its delegate has been told it completed, then no longer.
TEST_F(URLSessionTest, ADelegateTaskStaysInFlightUntilItsCompletionWasDelivered) {
  server.reply("GET", "/small", {.body = "done"});
  for (const char* path : {"small", "missing"}) {
    run(session->dataTaskWithRequest(requestFor(server.url(path))));
    EXPECT_EQ(delegate->inFlightAtCompletion, 1u) << path;
    EXPECT_TRUE(time.runUntil([] { return URLSession::transfersInFlight() == 0; })) << path;
  }
}

TEST_F(URLSessionTest, InvalidationWaitsForTasksThenReleasesTheDelegate) {
  server.reply("GET", "/slow", {.body = "done", .delay = 0.1});
  auto task = session->dataTaskWithRequest(requestFor(server.url("slow")));
  auto download = session->downloadTaskWithRequest(requestFor(server.url("slow")));
  bool listed = false;
  session->getTasksWithCompletionHandler([&](auto data, auto uploads, auto downloads) {
    listed = data.size() == 1 && data[0] == task && uploads.empty() && downloads.size() == 1;
  });
  ASSERT_TRUE(time.runUntil([&] { return listed; }));
  download.reset();  // dropped unstarted: nothing to wait for
  task->resume();
  session->finishTasksAndInvalidate();
  std::weak_ptr<RecordingDelegate> weak = delegate;
  auto recorder = delegate;
  delegate.reset();
  ASSERT_TRUE(time.runUntil([&] { return recorder->invalidated; }));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "data", "complete", "invalid"}));
  EXPECT_FALSE(session->delegate());

  // No new work after invalidation: a new task is born cancelled.
  EXPECT_EQ(fetch(requestFor(server.url("slow"))).error->code, NSURLErrorCancelled);
  recorder.reset();
  EXPECT_TRUE(weak.expired());
  delegate = std::make_shared<RecordingDelegate>();
  delegate->invalidated = true;
}

// Tasks that end out of the order they were made in take themselves, and only themselves, off the
// session's list.
TEST_F(URLSessionTest, TasksEndingInAnyOrderLeaveTheRunningOnesListedAndInvalidationWaitsForThem) {
  server.reply("GET", "/slow", {.body = "done", .delay = 0.1});
  std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
  for (int i = 0; i < 4; ++i) tasks.push_back(session->dataTaskWithRequest(requestFor(server.url("slow"))));
  auto listed = [&] {
    std::optional<std::vector<std::shared_ptr<URLSessionDataTask>>> result;
    session->getTasksWithCompletionHandler([&](auto data, auto, auto) { result = data; });
    EXPECT_TRUE(time.runUntil([&] { return result.has_value(); }));
    return result.value_or(std::vector<std::shared_ptr<URLSessionDataTask>>{});
  };
  tasks[2]->cancel();
  ASSERT_TRUE(time.runUntil([&] { return delegate->completions == 1; }));
  tasks[1].reset();  // dropped unstarted
  EXPECT_EQ(listed(), (std::vector{tasks[0], tasks[3]}));

  tasks[0]->resume();
  session->finishTasksAndInvalidate();
  tasks[3]->cancel();
  ASSERT_TRUE(time.runUntil([&] { return delegate->completions == 2; }));
  EXPECT_EQ(listed(), (std::vector{tasks[0]}));
  EXPECT_FALSE(delegate->invalidated);
  ASSERT_TRUE(time.runUntil([&] { return delegate->invalidated; }));
  EXPECT_EQ(delegate->completions, 3);
  EXPECT_EQ(delegate->events.back(), "invalid");
}

// The same with a list long enough to be kept indexed, and holes left by most of it.
TEST_F(URLSessionTest, ManyTasksEndingInAnyOrderLeaveTheOthersListedInTheOrderMade) {
  std::vector<std::shared_ptr<URLSessionDataTask>> tasks, running;
  for (int i = 0; i < 40; ++i) tasks.push_back(session->dataTaskWithRequest(requestFor(server.url("none"))));
  int cancelled = 0;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    if (i % 3 == 0) {
      tasks[i]->cancel();
      ++cancelled;
    } else if (i % 3 == 1 && i > 20) {
      tasks[i].reset();  // dropped unstarted
    } else {
      running.push_back(tasks[i]);
    }
  }
  ASSERT_TRUE(time.runUntil([&] { return delegate->completions == cancelled; }));
  std::optional<std::vector<std::shared_ptr<URLSessionDataTask>>> listed;
  session->getTasksWithCompletionHandler([&](auto data, auto, auto) { listed = data; });
  ASSERT_TRUE(time.runUntil([&] { return listed.has_value(); }));
  EXPECT_EQ(*listed, running);

  session->finishTasksAndInvalidate();
  for (auto it = running.rbegin(); it + 1 != running.rend(); ++it) (*it)->cancel();
  ASSERT_TRUE(time.runUntil([&] { return delegate->completions == cancelled + int(running.size()) - 1; }));
  EXPECT_FALSE(delegate->invalidated) << "one task still runs";
  running.front()->cancel();
  ASSERT_TRUE(time.runUntil([&] { return delegate->invalidated; }));
}

// A body whose every offset is told apart from its neighbours.
std::string patterned(std::size_t length, char salt = 0) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + salt) % 26);
  return text;
}

TEST_F(URLSessionTest, FakeServerAnswersByteRanges) {
  const std::string body = patterned(100);
  server.reply("GET", "/r", {.body = body, .ranges = true});
  auto get = [&](HTTPHeaderFields headers) {
    return fetch(requestFor(server.url("r"), "GET", {}, std::move(headers)));
  };
  auto full = get({});
  const auto etag = full.response->valueForHTTPHeaderField("ETag").value_or("");
  EXPECT_EQ(std::tuple(full.response->statusCode(), full.data->toString(), etag.size() > 2),
            std::tuple(200, body, true));
  auto slice = get({{"Range", "bytes=10-19"}, {"If-Range", etag}});
  EXPECT_EQ(std::tuple(slice.response->statusCode(), slice.response->valueForHTTPHeaderField("Content-Range"),
                       slice.data->toString()),
            std::tuple(206, "bytes 10-19/100", body.substr(10, 10)));
  EXPECT_EQ(get({{"Range", "bytes=-5"}}).data->toString(), body.substr(95));
  auto beyond = get({{"Range", "bytes=100-"}});
  EXPECT_EQ(std::tuple(beyond.response->statusCode(), beyond.response->valueForHTTPHeaderField("Content-Range")),
            std::tuple(416, "bytes */100"));
  // Another validator: the whole resource.
  EXPECT_EQ(get({{"Range", "bytes=10-"}, {"If-Range", "\"other\""}}).response->statusCode(), 200);
}

// A download cancelled with resume data, or cut off, goes on from its partial file with a Range
// request; a changed resource (its validator no longer matches) starts over.
TEST_F(URLSessionTest, DownloadsGoOnFromResumeData) {
  const std::string body = patterned(3000);
  const std::string changed = patterned(3000, 1);
  auto reply = [](std::string text) {
    return ScriptedReply{.body = std::move(text), .contentType = "application/octet-stream", .ranges = true};
  };
  auto stalled = reply(body);
  stalled.stallAfterBodyBytes = 1000;
  auto cut = reply(body);
  cut.resetAfterBodyBytes = 1200;

  struct Case {
    const char* name;
    ScriptedReply first;
    std::string second;
    std::string range;
    std::string resumed;
  };
  for (const auto& c : {Case{"cancelled", stalled, body, "bytes=1000-", "resumed 1000 of 3000"},
                        Case{"cut off", cut, body, "bytes=1200-", "resumed 1200 of 3000"},
                        Case{"changed", stalled, changed, "bytes=1000-", "resumed 0 of 3000"}}) {
    SCOPED_TRACE(c.name);
    server.replies("GET", "/file", {c.first, reply(c.second)});
    auto task = session->downloadTaskWithRequest(requestFor(server.url("file")));
    std::optional<Data> resumeData;
    if (c.first.stallAfterBodyBytes) {
      task->resume();
      ASSERT_TRUE(time.runUntil([&] { return task->countOfBytesReceived() == 1000; }));
      bool handed = false;
      task->cancelByProducingResumeData([&](std::optional<Data> data) {
        handed = true;
        resumeData = std::move(data);
      });
      ASSERT_TRUE(time.runUntil([&] { return handed && delegate->completions > 0; }));
      EXPECT_EQ(delegate->error->code, NSURLErrorCancelled);
    } else {
      run(task);
      ASSERT_TRUE(delegate->error);
      EXPECT_EQ(delegate->error->code, NSURLErrorNetworkConnectionLost);
      if (auto found = delegate->error->userInfo.find(NSURLSessionDownloadTaskResumeData);
          found != delegate->error->userInfo.end() && found->second.asData())
        resumeData = *found->second.asData();
    }
    ASSERT_TRUE(resumeData);
    const auto etag =
        std::dynamic_pointer_cast<const HTTPURLResponse>(task->response())->valueForHTTPHeaderField("ETag");

    auto resumed = session->downloadTaskWithResumeData(*resumeData);
    EXPECT_EQ(resumed->originalRequest()->url->absoluteString(), server.url("file"));
    run(resumed);
    const auto sent = server.lastRequest();
    EXPECT_EQ(std::tuple(sent->header("Range"), sent->header("If-Range")), std::tuple(c.range, etag));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{c.resumed, "written 3000", "downloaded", "complete"}));
    EXPECT_TRUE(delegate->body.toString() == c.second) << "the file holds another body";

    // Its partial file went into the finished download: the same data cannot be used twice.
    run(session->downloadTaskWithResumeData(*resumeData));
    EXPECT_EQ(delegate->error->code, NSURLErrorCannotOpenFile);
    delegate->completions = 0;
  }
  run(session->downloadTaskWithResumeData(Data::fromString("not resume data")));
  EXPECT_EQ(delegate->error->code, NSURLErrorCannotOpenFile);
}

// Without a transfer daemon, a background session made again in the same process takes over the
// tasks still running in the one before: they are listed by it and report to its delegate.
TEST_F(URLSessionTest, BackgroundSessionMadeAgainTakesOverLiveTasks) {
  server.reply("GET", "/moved", {.status = 302, .headers = {{"Location", "/file"}}});
  server.reply("GET", "/file", {.body = "background body", .contentType = "application/octet-stream"});
  const auto configuration = URLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("bg.rebind");
  auto before = std::make_shared<RecordingDelegate>();
  URLSessionDelegate::RedirectCompletion held;
  before->onRedirect = [&](const URLRequest&, URLSessionDelegate::RedirectCompletion completion) {
    held = std::move(completion);
  };
  auto first = URLSession::sessionWithConfiguration(configuration, before, DispatchQueue::main());
  auto task = first->downloadTaskWithRequest(requestFor(server.url("moved")));
  task->resume();
  ASSERT_TRUE(time.runUntil([&] { return held != nullptr; }));

  auto after = std::make_shared<RecordingDelegate>();
  auto second = URLSession::sessionWithConfiguration(configuration, after, DispatchQueue::main());
  std::vector<std::shared_ptr<URLSessionDownloadTask>> listedBefore{nullptr}, listedAfter;
  first->getTasksWithCompletionHandler([&](auto, auto, auto downloads) { listedBefore = downloads; });
  second->getTasksWithCompletionHandler([&](auto, auto, auto downloads) { listedAfter = downloads; });
  ASSERT_TRUE(time.runUntil([&] { return listedAfter.size() == 1; }));
  EXPECT_EQ(std::tuple(listedAfter[0], task->session(), listedBefore.size()), std::tuple(task, second, 0u));

  held(requestFor(server.url("file")));
  ASSERT_TRUE(time.runUntil([&] { return after->completions == 1; }));
  EXPECT_EQ(after->events, (std::vector<std::string>{"written 15", "downloaded", "complete"}));
  EXPECT_EQ(after->body.toString(), "background body");
  EXPECT_EQ(before->events, (std::vector<std::string>{"redirect 302"}));

  // The first session no longer waits for the task it gave away.
  first->finishTasksAndInvalidate();
  second->finishTasksAndInvalidate();
  ASSERT_TRUE(time.runUntil([&] { return before->invalidated && after->invalidated; }));

  // A session made with an identifier no live session has starts empty.
  auto fresh = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("bg.rebind"), nullptr,
      DispatchQueue::main());
  std::optional<std::size_t> count;
  fresh->getTasksWithCompletionHandler(
      [&](auto data, auto uploads, auto downloads) { count = data.size() + uploads.size() + downloads.size(); });
  ASSERT_TRUE(time.runUntil([&] { return count.has_value(); }));
  EXPECT_EQ(count, 0u);
}

}  // namespace
