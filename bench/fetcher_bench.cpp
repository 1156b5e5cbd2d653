// Small GETs to one loopback server, in one run. Sequentially, by four sides: a reused libcurl
// easy handle, raw data tasks of one URL session, session fetchers, and fetchers of one service
// that share its session. In parallel, by two: batches of 64 requests started at once on a libcurl
// multi handle allowed 10 connections per host, and 64 fetchers begun at once through a service
// (which runs 10 per host). The sides alternate round by round so that drift of the machine's
// speed falls on all alike; each side's best round counts. Every side asks for uncompressed
// replies, and the run stops when a request of any round differs from the curl side's, a side
// uses more connections than it may, or a reply comes back compressed: otherwise the server's
// work, not the client's, is measured. The sides run twice: pinned, in a process whose threads
// and server all share one CPU (the client's own cost), then unpinned with the server in a
// process of its own (how the client runs). Last, the latency of single fetches through a
// service, unpinned, on an idle machine and beside as many CPU-bound threads as it has CPUs.
//
// `fetcher_bench SIDE COUNT` runs one side alone, pinned (curl, session, fetcher, service,
// curl-multi or parallel; COUNT a multiple of 64 for the parallel ones): for callgrind. With
// `--unpinned` as well, the server runs in a process of its own and nothing is pinned: for perf.
// `fetcher_bench --latency` measures the latency figures alone, in a process that ran nothing
// before them: set beside a full run's, they show what the sides' history does to the figures.
//
// Where the time goes (perf and callgrind, one CPU, loopback; instructions per request): a GET
// costs libcurl about 31 us, half of it the in-process server's (libcurl about 59k instructions,
// the server about 57k). A session task adds two hand-offs between threads: the resume wakes the
// engine thread through an eventfd of the engine's own (one write, one read), written only when
// the engine has gone to sleep, and the engine's turn hands response, body and completion to the
// delegate queue in one block, waking the run loop's futex word. A response the delegate is only
// told of waits for its body, one engine turn at most: a server that writes the headers and the
// body apart (this one does) would otherwise cost a fetcher a second wake-up of the main thread
// in about a third of its fetches. What costs besides is the work and the memory it touches, about 20.7k instructions: the engine's
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
// discard timer, which makes each run loop turn and wait read the clock (though no longer lock
// the loop, the earliest due time being kept beside the timer count). In parallel one engine turn
// delivers many completions in one block; each fetch pays the fetcher's and the service's
// main-thread work (making, admitting, promoting and creating the task, finishing: about 13k
// instructions more than the curl-multi side per request) and the engine's per-task work above,
// against curl's multi handle reusing 64 easy handles as they are.
//
// Unpinned, a fetch of the platform's sides hands work to another thread four times (main to
// engine, engine to server, back, engine to main), curl's side twice, and on this virtual machine a
// hand-off to a thread whose CPU has gone idle costs tens of microseconds, charged to the woken
// thread (most of its samples in finish_task_switch). Counted per fetch: the main thread is woken
// once, the engine twice, the engine's eventfd written only when it sleeps, and the engine polls
// as often as curl's side does. The scheduler puts a woken thread back on its previous CPU when
// that one is idle, whatever wakes it: a pipe's synchronous wake-up, tried in place of the run
// loop's futex and the engine's eventfd, still put no more than 2% of the wake-ups on the waker's
// CPU, and cost the pinned session/curl ratio 0.03, so it was left out. Where the main thread and
// the engine keep CPUs of their own (they hardly ever preempt each other), as they mostly do after
// the sides, they take about 45-60 and 100-120 us of CPU per fetch of the latency runs; sharing
// one CPU, as the two threads of a process that ran nothing before start out (`--latency`), about
// 10 and 30-60 us.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
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
  std::size_t usedConnections = 0;  // TCP connections the side used in its last round
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

// Every request the side sent since the last clear carries the reference headers, and it used
// no more connections than it may (counted per round: between rounds the other sides may take
// their place).
bool checkRequests(BenchServer& server, Side& side, std::uint64_t reference) {
  const ServerReport report = server.report();
  if (!report.sameHeaders || report.headers != reference) {
    std::printf("fetcher_bench: the %s side sends other headers than the curl side\n", side.name);
    return false;
  }
  side.usedConnections = report.clientPorts;
  if (side.usedConnections > side.maxConnections) {
    std::printf("fetcher_bench: the %s side used %zu TCP connections, at most %zu allowed\n", side.name,
                side.usedConnections, side.maxConnections);
    return false;
  }
  return true;
}

// One run of the side: false (with the reason printed) when a fetch failed, came back compressed,
// sent other headers or used too many connections.
bool runSide(BenchServer& server, Side& side, int count, std::uint64_t reference, double* elapsed) {
  server.clear();
  bool ok = true;
  const double time = seconds([&] { ok = side.run(count); });
  if (!ok) {
    std::printf("fetcher_bench: a %s fetch failed or came back compressed\n", side.name);
    return false;
  }
  if (elapsed) *elapsed = time;
  return checkRequests(server, side, reference);
}

void setUpServer(FakeBackend& server) {
  server.reply("GET", "/bench", {.status = 200, .body = kReply, .contentType = "application/json"});
}

std::shared_ptr<ZSDK_ZTKSessionFetcherService> makeService() {
  auto service = ZSDK_ZTKSessionFetcherService::create();
  service->allowLocalhostRequest = true;
  service->allowedInsecureSchemes = {"http"};
  return service;
}

// The clients of one phase, all sending `request` to the server.
struct Clients {
  explicit Clients(const std::string& url)
      : request(benchRequest(url)),
        curl(url),
        session(URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration(), nullptr,
                                                     DispatchQueue::main())),
        service(makeService()),
        curlMulti(url),
        parallelService(makeService()) {}
  ~Clients() { session->finishTasksAndInvalidate(); }

  std::vector<Side> sides() {
    auto plainFetcher = [this] {
      auto fetcher = ZSDK_ZTKSessionFetcher::fetcherWithRequest(request);
      fetcher->setAllowLocalhostRequest(true);
      fetcher->setAllowedInsecureSchemes({"http"});
      return fetcher;
    };
    return {
        {"curl", [this](int n) { return curl.run(n); }},
        {"session", [this](int n) { return runSessionTasks(session, request, n); }},
        {"fetcher", [plainFetcher](int n) { return runFetchers(plainFetcher, n); }},
        {"service",
         [this](int n) { return runFetchers([this] { return service->fetcherWithRequest(request); }, n); }},
        {"curl-multi", [this](int n) { return curlMulti.run(n / kParallel); }, kConnectionsPerHost},
        {"parallel", [this](int n) { return runParallelFetchers(parallelService, request, n / kParallel); },
         kConnectionsPerHost},
    };
  }

  const URLRequest request;
  CurlSide curl;
  std::shared_ptr<URLSession> session;
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service;
  CurlMultiSide curlMulti;
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> parallelService;
};

// The headers of the curl side's request, which every side must send alike; 0 when it failed.
std::uint64_t referenceHeaders(BenchServer& server, Clients& clients) {
  server.clear();
  if (!clients.curl.run(1)) {
    std::printf("fetcher_bench: a curl fetch failed or came back compressed\n");
    return 0;
  }
  return server.report().headers;
}

// Warm-up, then the sides round by round; false when a run failed its checks.
bool measureSides(BenchServer& server, std::vector<Side>& sides, std::uint64_t reference) {
  for (auto& side : sides) {
    const int count = side.maxConnections > 1 ? kParallel : kWarmUp;
    if (!runSide(server, side, count, reference, nullptr)) return false;
  }
  for (int round = 0; round < kRounds; ++round) {
    for (auto& side : sides) {
      const int count = side.maxConnections > 1 ? kParallel * kBatches : kFetches;
      double elapsed = 0;
      if (!runSide(server, side, count, reference, &elapsed)) return false;
      side.best = std::min(side.best, elapsed / count);
    }
  }
  return true;
}

void printSides(const std::vector<Side>& sides) {
  for (const auto& side : sides) {
    std::printf("  %-10s best round %8.0f fetches/s, TCP connections in the last round %zu\n", side.name, 1 / side.best,
                side.usedConnections);
  }
}

// `fetcher_bench SIDE COUNT`: one side alone, pinned, for callgrind; with `--unpinned` the server
// runs in a process of its own and nothing is pinned, for counting context switches and wake-ups.
int runOneSide(const std::string& only, int count, bool unpinned) {
  if (!unpinned) pinToOneCpu();
  RunLoop::main();
  FakeBackend local;
  std::optional<ServerProcess> child;
  if (unpinned) {
    child.emplace();
    if (!child->running()) return 1;
  } else {
    setUpServer(local);
  }
  BenchServer server = child ? BenchServer(*child) : BenchServer(local);
  Clients clients(server.url("bench"));
  const std::uint64_t reference = referenceHeaders(server, clients);
  for (auto& side : clients.sides()) {
    if (side.name != only) continue;
    const int warmUp = side.maxConnections > 1 ? kParallel : kWarmUp;
    return reference && runSide(server, side, warmUp, reference, nullptr) &&
                   runSide(server, side, count, reference, nullptr)
               ? 0
               : 1;
  }
  std::printf("fetcher_bench: no side named %s\n", only.c_str());
  return 1;
}

// Every thread of the process and the server on one CPU: the client's own cost, with every
// hand-off between threads costing both sides alike.
int runPinned() {
  // Before any thread starts, so that every thread of the run inherits the one CPU.
  if (pinToOneCpu() < 0) std::printf("fetcher_bench: could not pin to one CPU\n");
  RunLoop::main();
  FakeBackend local;
  setUpServer(local);
  BenchServer server(local);
  Clients clients(server.url("bench"));
  auto sides = clients.sides();
  const std::uint64_t reference = referenceHeaders(server, clients);
  if (!reference || !measureSides(server, sides, reference)) return 1;
  std::printf(
      "fetcher_bench: %d rounds of %d sequential small GETs to 127.0.0.1, and of %d batches of %d at once "
      "(at most %ld connections), one CPU\n",
      kRounds, kFetches, kBatches, kParallel, kConnectionsPerHost);
  printSides(sides);
  std::printf("ratio session/curl, pinned: %.2f (target at most 1.25)\n", sides[1].best / sides[0].best);
  std::printf("ratio fetcher/session, pinned: %.2f (target at most 1.12)\n", sides[2].best / sides[1].best);
  std::printf("ratio service/session, pinned: %.2f (target at most 1.15)\n", sides[3].best / sides[1].best);
  std::printf("ratio parallel service/curl-multi, pinned: %.2f (target at most 1.20)\n", sides[5].best / sides[4].best);
  return 0;
}

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

// The time of each of `kFetches` sequential fetches through `service`; empty when one failed.
std::vector<double> fetchLatencies(ZSDK_ZTKSessionFetcherService& service, const URLRequest& request) {
  std::vector<double> latencies;
  for (int i = 0; i < kWarmUp + kFetches; ++i) {
    double elapsed = 0;
    bool ok = false;
    elapsed = seconds([&] { ok = runFetchers([&] { return service.fetcherWithRequest(request); }, 1); });
    if (!ok) return {};
    if (i >= kWarmUp) latencies.push_back(elapsed);
  }
  return latencies;
}

// Fetch latency with the machine idle and with as many CPU-bound threads as it has CPUs: what a
// busy neighbour costs the interactive client.
bool measureLatency(const URLRequest& request) {
  auto service = makeService();
  const auto idle = fetchLatencies(*service, request);
  std::atomic<bool> stop{false};
  std::vector<std::thread> burners;
  for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
    burners.emplace_back([&stop] {
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
  }
  const auto busy = fetchLatencies(*service, request);
  stop = true;
  for (auto& burner : burners) burner.join();
  if (idle.empty() || busy.empty()) {
    std::printf("fetcher_bench: a fetch of the latency runs failed\n");
    return false;
  }
  const double idle50 = percentile(idle, 0.5), busy50 = percentile(busy, 0.5);
  const double idle99 = percentile(idle, 0.99), busy99 = percentile(busy, 0.99);
  std::printf("fetcher_bench: latency of %d sequential fetches through a service, unpinned, idle and with %zu "
              "CPU-bound threads\n",
              kFetches, burners.size());
  std::printf("latency busy/idle p50: %.2f (busy %.3f ms, idle %.3f ms; target at most 2.0)\n", busy50 / idle50,
              busy50 * 1e3, idle50 * 1e3);
  std::printf("latency busy/idle p99: %.2f (busy %.3f ms, idle %.3f ms; target at most 5.0)\n", busy99 / idle99,
              busy99 * 1e3, idle99 * 1e3);
  return true;
}

// As the client runs: threads where the scheduler puts them, the server in a process of its own.
int runUnpinned() {
  RunLoop::main();
  ServerProcess child;
  if (!child.running()) return 1;
  BenchServer server(child);
  Clients clients(server.url("bench"));
  auto sides = clients.sides();
  const std::uint64_t reference = referenceHeaders(server, clients);
  if (!reference || !measureSides(server, sides, reference)) return 1;
  std::printf("fetcher_bench: the same, unpinned, the server in another process\n");
  printSides(sides);
  std::printf("ratio session/curl, unpinned: %.2f (target at most 1.50)\n", sides[1].best / sides[0].best);
  std::printf("ratio fetcher/session, unpinned: %.2f\n", sides[2].best / sides[1].best);
  std::printf("ratio service/session, unpinned: %.2f\n", sides[3].best / sides[1].best);
  std::printf("ratio parallel service/curl-multi, unpinned: %.2f\n", sides[5].best / sides[4].best);
  return measureLatency(clients.request) ? 0 : 1;
}

int runLatencyAlone() {
  RunLoop::main();
  ServerProcess child;
  if (!child.running()) return 1;
  return measureLatency(benchRequest(BenchServer(child).url("bench"))) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return benchMain(argc, argv, setUpServer, [&] {
    if (hasFlag(argc, argv, "--pinned")) return runPinned();
    if (hasFlag(argc, argv, "--latency")) return runLatencyAlone();
    if (argc > 2) return runOneSide(argv[1], std::atoi(argv[2]), hasFlag(argc, argv, "--unpinned"));
    // The pinned figures in a process of their own: pinning is for every thread of a process.
    return runSelf({"--pinned"}) ? runUnpinned() : 1;
  });
}
