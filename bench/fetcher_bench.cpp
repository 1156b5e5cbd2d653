// Small GETs to one loopback server, in one run. Sequentially, by four sides: a reused libcurl
// easy handle, raw data tasks of one URL session, session fetchers, and fetchers of one service
// that share its session. In parallel, by two: batches of 64 requests started at once on a libcurl
// multi handle allowed 10 connections per host, and 64 fetchers begun at once through a service
// (which runs 10 per host). The sides alternate round by round so that drift of the machine's
// speed falls on all alike; each side's best round counts. The process runs on one CPU, every side
// asks for uncompressed replies, and the run stops when a request of any round differs from the
// curl side's, a side uses more connections than it may, or a reply comes back compressed:
// otherwise the server's work, not the client's, is measured.
//
// `fetcher_bench SIDE COUNT` runs one side alone (curl, session, fetcher, service, curl-multi or
// parallel; COUNT a multiple of 64 for the parallel ones): for callgrind.
//
// Where the time goes (perf and callgrind, one CPU, loopback; instructions per request): a GET
// costs libcurl about 31 us, half of it the in-process server's (libcurl about 59k instructions,
// the server about 57k). A session task adds two hand-offs between threads: the resume wakes the
// engine thread through an eventfd of the engine's own (one write, one read), written only when
// the engine has gone to sleep, and the engine's turn hands response, body and completion to the
// delegate queue in one block, waking the run loop's futex word. The engine runs as a batch thread,
// which a socket's wake-up does not let preempt the running thread: before, it broke into the
// server between the reply's headers and its body about every other fetch of the fetcher sides
// (never on the session side), which cost those fetches a delivery, a main-thread wake-up and a
// run loop turn more: about 0.07 of fetcher/session and service/session, 0.04 of session/curl.
// What costs besides is the work and the memory it touches, about 20.7k instructions: the engine's
// own per task (easy handle setup about 3k: a handle whose last request was a plain GET or HEAD is
// reused without a reset and only its changing options are set; header parsing and the response
// about 3.5k; removal about 1.3k; completion and delivery about 1.5k; curl's callbacks and the
// engine turn the rest) and the main thread's about 5k (making the task 1.8k, the run loop turn
// that delivers it). URLs and requests are shared, not copied, between the task, the transfer and
// the response; malloc and free still take about 4k.
//
// A fetcher adds about 11.5k, mostly on the main thread: its begin about 5k with the task (a
// session of its own made per fetch, the background-task bracket, the started notification; a
// plain fetcher checks, reads its session settings and makes its task under two locks), its
// finish about 3.5k (the stop, releasing the callbacks, invalidating the owned session), the
// completion's own run loop turn about 1k, making and dropping the fetcher about 3k; each
// delegate callback takes the fetcher's lock once. It makes about 12 heap allocations more than a
// raw task (the fetcher, its request, callback group and session, the background-task handler, a
// closure per delegate callback, the session's invalidation, the body chunk, the fetcher's buffer
// and the copy its caller gets, the completion's closure). A service fetcher adds about 3k more:
// its settings copied in one locked step, admission and the host lists, the dispatcher's routing
// (a host's list entry and the task map's node are reused from the last fetch), and the pending
// discard timer, which makes each run loop turn read the clock. In parallel one engine turn
// delivers many completions in one block; each fetch pays the fetcher's and the service's
// main-thread work (making, admitting, promoting and creating the task, finishing: about 13k
// instructions more than the curl-multi side per request) and the engine's per-task work above,
// against curl's multi handle reusing 64 easy handles as they are.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "platform/foundation/run_loop.h"
#include "platform/net/url_session.h"
#include "support/fake_backend.h"
#include "toolkit/session_fetcher.h"
#include "toolkit/session_fetcher_service.h"

namespace {

constexpr int kRounds = 9;
constexpr int kFetches = 1000;
constexpr int kWarmUp = 20;
// The parallel sides: batches of fetches started at once, at most this many connections at a time.
constexpr int kParallel = 64;
constexpr int kBatches = 16;
constexpr long kConnectionsPerHost = 10;
const std::string kReply = "{\"success\":true,\"points\":12}";

using Headers = std::vector<std::pair<std::string, std::string>>;

// Every side sends exactly these (curl adds Host itself).
URLRequest benchRequest(const std::string& url) {
  URLRequest request(*URL::URLWithString(url));
  request.setValue("identity", "Accept-Encoding");
  return request;
}

bool uncompressed(const std::shared_ptr<const URLResponse>& response) {
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
  return http && http->statusCode() == 200 && !http->allHeaderFields().valueForHTTPHeaderField("Content-Encoding");
}

struct Side {
  Side(const char* sideName, std::function<bool(int count)> work, std::size_t connections = 1)
      : name(sideName), run(std::move(work)), maxConnections(connections) {}
  const char* name;
  std::function<bool(int count)> run;  // false when a fetch failed or came back compressed
  std::size_t maxConnections;
  double best = 1e9;
  std::set<int> clientPorts;  // one per TCP connection the side used
};

// A reused easy handle: what the platform's transfers cost at the least.
class CurlSide {
 public:
  explicit CurlSide(const std::string& url) : easy_(curl_easy_init()) {
    headerList_ = curl_slist_append(nullptr, "Accept-Encoding: identity");
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_PROXY, "");
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlSide::write);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlSide::header);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &compressed_);
  }
  ~CurlSide() {
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headerList_);
  }
  CURL* easy() const { return easy_; }
  // Starts the request again on `multi`.
  void reset(CURLM* multi) {
    body_.clear();
    curl_multi_add_handle(multi, easy_);
  }
  bool ok() const {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status == 200 && body_ == kReply && !compressed_;
  }
  bool run(int count) {
    for (int i = 0; i < count; ++i) {
      body_.clear();
      long status = 0;
      if (curl_easy_perform(easy_) != CURLE_OK) return false;
      curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
      if (status != 200 || body_ != kReply || compressed_) return false;
    }
    return true;
  }

 private:
  static size_t write(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
  }
  static size_t header(char* data, size_t size, size_t count, void* compressed) {
    const std::string line(data, size * count);
    if (line.size() > 17 && strncasecmp(line.c_str(), "content-encoding:", 17) == 0)
      *static_cast<bool*>(compressed) = true;
    return size * count;
  }
  CURL* easy_;
  curl_slist* headerList_;
  std::string body_;
  bool compressed_ = false;
};

// The same request on `kParallel` easy handles of one multi handle, at most `kConnectionsPerHost`
// connections: what the service's parallel fetches cost at the least.
class CurlMultiSide {
 public:
  explicit CurlMultiSide(const std::string& url) : multi_(curl_multi_init()) {
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, kConnectionsPerHost);
    for (int i = 0; i < kParallel; ++i) handles_.emplace_back(url);
  }
  ~CurlMultiSide() {
    handles_.clear();
    curl_multi_cleanup(multi_);
  }
  bool run(int batches) {
    for (int b = 0; b < batches; ++b) {
      for (auto& handle : handles_) handle.reset(multi_);
      int running = 1;
      while (running > 0) {
        if (curl_multi_perform(multi_, &running) != CURLM_OK) return false;
        if (running > 0) curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->data.result != CURLE_OK) return false;
      }
      for (auto& handle : handles_) {
        curl_multi_remove_handle(multi_, handle.easy());
        if (!handle.ok()) return false;
      }
    }
    return true;
  }

 private:
  CURLM* multi_;
  std::deque<CurlSide> handles_;  // not movable: a deque keeps them in place
};

bool runSessionTasks(const std::shared_ptr<URLSession>& session, const URLRequest& request, int count) {
  for (int i = 0; i < count; ++i) {
    bool done = false;
    bool ok = false;
    session
        ->dataTaskWithRequest(
            request,
            [&](std::optional<Data> data, std::shared_ptr<const URLResponse> response, std::optional<NSError> error) {
              done = true;
              ok = !error && uncompressed(response) && data && data->toString() == kReply;
            })
        ->resume();
    if (!RunLoop::main().runUntil([&] { return done; }, 10.0) || !ok) return false;
  }
  return true;
}

bool runFetchers(const std::function<std::shared_ptr<ZSDK_ZTKSessionFetcher>()>& make, int count) {
  for (int i = 0; i < count; ++i) {
    auto fetcher = make();
    bool done = false;
    bool ok = false;
    fetcher->beginFetchWithCompletionHandler([&](std::optional<Data> data, std::optional<NSError> error) {
      done = true;
      ok = !error && uncompressed(fetcher->response()) && data && data->toString() == kReply;
    });
    if (!RunLoop::main().runUntil([&] { return done; }, 10.0) || !ok) return false;
  }
  return true;
}

// `batches` times, `kParallel` fetchers begun at once, all run to their end.
bool runParallelFetchers(const std::shared_ptr<ZSDK_ZTKSessionFetcherService>& service, const URLRequest& request,
                         int batches) {
  for (int b = 0; b < batches; ++b) {
    int done = 0;
    bool ok = true;
    for (int i = 0; i < kParallel; ++i) {
      auto fetcher = service->fetcherWithRequest(request);
      fetcher->beginFetchWithCompletionHandler([&, fetcher](std::optional<Data> data, std::optional<NSError> error) {
        ++done;
        ok = ok && !error && uncompressed(fetcher->response()) && data && data->toString() == kReply;
      });
    }
    if (!RunLoop::main().runUntil([&] { return done == kParallel; }, 10.0) || !ok) return false;
  }
  return true;
}

Headers sortedHeaders(Headers headers) {
  for (auto& [name, value] : headers) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  std::sort(headers.begin(), headers.end());
  return headers;
}

void printHeaders(const char* title, const Headers& headers) {
  std::printf(" %s:\n", title);
  for (const auto& [name, value] : headers) std::printf("  %s: %s\n", name.c_str(), value.c_str());
}

// Every request the side sent since the last clear carries the reference headers; its
// connections are counted (per round: between rounds the other sides may take their place).
bool checkRequests(const FakeBackend& server, Side& side, const Headers& reference) {
  for (const auto& recorded : server.requests()) {
    side.clientPorts.insert(recorded.remotePort);
    const Headers headers = sortedHeaders(recorded.headers);
    if (headers != reference) {
      std::printf("fetcher_bench: the %s side sends other headers than the curl side:\n", side.name);
      printHeaders(side.name, headers);
      printHeaders("curl", reference);
      return false;
    }
  }
  if (side.clientPorts.size() > side.maxConnections) {
    std::printf("fetcher_bench: the %s side used %zu TCP connections, at most %zu allowed\n", side.name,
                side.clientPorts.size(), side.maxConnections);
    return false;
  }
  return true;
}

// One run of the side: false (with the reason printed) when a fetch failed, came back compressed,
// sent other headers or used too many connections.
bool runSide(FakeBackend& server, Side& side, int count, const Headers& reference, double* elapsed) {
  server.clearRequests();
  side.clientPorts.clear();
  bool ok = true;
  const double time = seconds([&] { ok = side.run(count); });
  if (!ok) {
    std::printf("fetcher_bench: a %s fetch failed or came back compressed\n", side.name);
    return false;
  }
  if (elapsed) *elapsed = time;
  return checkRequests(server, side, reference);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 2 ? argv[1] : "";
  const int onlyCount = argc > 2 ? std::atoi(argv[2]) : 0;
  // Before any thread starts, so that every thread of the run inherits the one CPU.
  if (pinToOneCpu() < 0) std::printf("fetcher_bench: could not pin to one CPU\n");

  RunLoop::main();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  FakeBackend server;
  server.reply("GET", "/bench", {.status = 200, .body = kReply, .contentType = "application/json"});
  const std::string url = server.url("bench");
  const URLRequest request = benchRequest(url);

  CurlSide curl(url);
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration(), nullptr,
                                                      DispatchQueue::main());
  auto service = ZSDK_ZTKSessionFetcherService::create();
  service->allowLocalhostRequest = true;
  service->allowedInsecureSchemes = {"http"};
  auto plainFetcher = [&] {
    auto fetcher = ZSDK_ZTKSessionFetcher::fetcherWithRequest(request);
    fetcher->setAllowLocalhostRequest(true);
    fetcher->setAllowedInsecureSchemes({"http"});
    return fetcher;
  };

  CurlMultiSide curlMulti(url);
  auto parallelService = ZSDK_ZTKSessionFetcherService::create();
  parallelService->allowLocalhostRequest = true;
  parallelService->allowedInsecureSchemes = {"http"};

  std::vector<Side> sides = {
      {"curl", [&](int n) { return curl.run(n); }},
      {"session", [&](int n) { return runSessionTasks(session, request, n); }},
      {"fetcher", [&](int n) { return runFetchers(plainFetcher, n); }},
      {"service", [&](int n) { return runFetchers([&] { return service->fetcherWithRequest(request); }, n); }},
      {"curl-multi", [&](int n) { return curlMulti.run(n / kParallel); }, kConnectionsPerHost},
      {"parallel", [&](int n) { return runParallelFetchers(parallelService, request, n / kParallel); },
       kConnectionsPerHost},
  };
  server.clearRequests();
  if (!curl.run(1)) {
    std::printf("fetcher_bench: a curl fetch failed or came back compressed\n");
    return 1;
  }
  const Headers reference = sortedHeaders(server.lastRequest()->headers);
  if (!only.empty()) {
    for (auto& side : sides) {
      if (side.name != only) continue;
      const int count = side.maxConnections > 1 ? kParallel : kWarmUp;
      const bool ok =
          runSide(server, side, count, reference, nullptr) && runSide(server, side, onlyCount, reference, nullptr);
      session->finishTasksAndInvalidate();
      curl_global_cleanup();
      return ok ? 0 : 1;
    }
    std::printf("fetcher_bench: no side named %s\n", only.c_str());
    return 1;
  }
  for (auto& side : sides) {
    const int count = side.maxConnections > 1 ? kParallel : kWarmUp;
    if (!runSide(server, side, count, reference, nullptr)) return 1;
  }
  for (int round = 0; round < kRounds; ++round) {
    for (auto& side : sides) {
      const int count = side.maxConnections > 1 ? kParallel * kBatches : kFetches;
      double elapsed = 0;
      if (!runSide(server, side, count, reference, &elapsed)) return 1;
      side.best = std::min(side.best, elapsed / count);
    }
  }
  session->finishTasksAndInvalidate();
  std::printf(
      "fetcher_bench: %d rounds of %d sequential small GETs to 127.0.0.1, and of %d batches of %d at once "
      "(at most %ld connections), one CPU\n",
      kRounds, kFetches, kBatches, kParallel, kConnectionsPerHost);
  for (const auto& side : sides) {
    std::printf("  %-10s best round %8.0f fetches/s, TCP connections in the last round %zu\n", side.name, 1 / side.best,
                side.clientPorts.size());
  }
  std::printf("ratio session/curl: %.2f (target at most 1.30)\n", sides[1].best / sides[0].best);
  std::printf("ratio fetcher/session: %.2f (target at most 1.15)\n", sides[2].best / sides[1].best);
  std::printf("ratio service/session: %.2f (target at most 1.20)\n", sides[3].best / sides[1].best);
  std::printf("ratio parallel service/curl-multi: %.2f (target at most 1.30)\n", sides[5].best / sides[4].best);
  curl_global_cleanup();
  return 0;
}
