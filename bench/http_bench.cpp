// Sequential small JSON POSTs through the HTTP framework stand-in, against a raw libcurl easy
// handle reused for the same requests, both to the same loopback server in one run. Both ask for an
// uncompressed reply: the test server's compression would otherwise dominate both sides.
//
// The pinned figures: the whole process runs on one CPU. A wake-up across CPUs costs tens of microseconds on a virtual
// machine, a request here costs about forty, and which threads the scheduler happens to put
// together changed either side's rate threefold from run to run; on one CPU both sides pay the
// same for every hand-off between threads, so the ratio shows the stand-in's own cost. The same
// run then measures both sides unpinned, the server in another process: how the client runs.
//
// Where the time goes (perf and callgrind): the stand-in runs on the URL session, so it pays the
// session's two hand-offs per request (the resume waking the engine thread, the engine handing
// the answer to the delegate queue in one block), which cost little next to the session's work
// per task, about 20.7k instructions (see fetcher_bench: handle setup, header parsing and the
// response, removal, task objects, delivery). A POST whose body is in memory takes a handle its
// last POST left primed, so no reset (about 3k) falls between them; the body is shared with the
// request, not copied. The framework's own work (making the request, validating, decoding the
// string) is about 5% of the samples.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench_process.h"
#include "bench_timing.h"
#include "platform/foundation/run_loop.h"
#include "platform/http/manager.h"
#include "support/fake_backend.h"

namespace {

constexpr int kRequests = 1000;
constexpr int kWarmUp = 50;
constexpr int kRounds = 9;
const std::string kBody = "{\"userName\":\"student@example.org\",\"lectureId\":1042,\"answers\":[1,3,2]}";
const std::string kReply = "{\"success\":true,\"points\":12}";

using Clock = std::chrono::steady_clock;

class StandIn {
 public:
  explicit StandIn(const std::string& url)
      : client_(Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration())),
        request_(*URL::URLWithString(url)) {
    request_.httpMethod = "POST";
    request_.setValue("application/json; charset=utf-8", "Content-Type");
    request_.setValue("identity", "Accept-Encoding");
    request_.httpBody = Data::fromString(kBody);
  }

  bool post() {
    bool done = false;
    bool ok = false;
    client_->request(request_)->validate()->responseString(StringEncoding::UTF8, [&](auto&, auto&, auto& result) {
      done = true;
      ok = result.value() == kReply;
    });
    return RunLoop::main().runUntil([&] { return done; }, 10.0) && ok;
  }

 private:
  std::shared_ptr<Manager> client_;
  URLRequest request_;
};

class RawCurl {
 public:
  explicit RawCurl(const std::string& url) : curl_(curl_easy_init()) {
    headers_ = curl_slist_append(headers_, "Content-Type: application/json; charset=utf-8");
    headers_ = curl_slist_append(headers_, "Expect:");
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_ACCEPT_ENCODING, "identity");
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, kBody.c_str());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(kBody.size()));
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_PROXY, "");
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply_);
  }
  ~RawCurl() {
    curl_slist_free_all(headers_);
    curl_easy_cleanup(curl_);
  }

  bool post() {
    reply_.clear();
    long status = 0;
    if (curl_easy_perform(curl_) != CURLE_OK) return false;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    return status == 200 && reply_ == kReply;
  }

 private:
  static std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  }

  CURL* curl_;
  curl_slist* headers_ = nullptr;
  std::string reply_;
};

// The clients take turns, so a burst of load on the machine hits both sides alike; each side's
// best round counts. Every round, each request must carry the reference headers, and a side must
// not open a second TCP connection.
template <class Client>
struct Side {
  const char* name;
  Client client;
  double bestSeconds = -1;
  std::size_t connections = 0;

  Side(const char* sideName, const std::string& url) : name(sideName), client(url) {}

  // False, with the reason printed, when a request failed, differed or needed another connection.
  bool round(BenchServer& server, int count, bool timed, std::uint64_t reference) {
    server.clear();
    const std::size_t before = server.report().connections;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      if (!client.post()) {
        std::printf("http_bench: a %s request failed\n", name);
        return false;
      }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const ServerReport report = server.report();
    connections += report.connections - before;
    if (timed && (bestSeconds < 0 || seconds < bestSeconds)) bestSeconds = seconds;
    if (!report.sameHeaders || report.headers != reference) {
      std::printf("http_bench: the %s side sends other headers than the reference\n", name);
      return false;
    }
    if (connections > 1) {
      std::printf("http_bench: the %s side used %zu TCP connections, at most 1 allowed\n", name, connections);
      return false;
    }
    return true;
  }
};

void setUpServer(FakeBackend& server) {
  server.reply("POST", "/bench", {.status = 200, .body = kReply, .contentType = "application/json"});
}

// Both sides, round by round; prints the figures under `title`. False when a request failed its checks.
bool measure(BenchServer& server, const char* title, const char* ratioLabel, const char* target) {
  Side<RawCurl> curl("libcurl", server.url("bench"));
  Side<StandIn> standIn("stand-in", server.url("bench"));
  server.clear();
  curl.connections = server.report().connections;
  if (!curl.client.post()) {
    std::printf("http_bench: a libcurl request failed\n");
    return false;
  }
  const ServerReport first = server.report();
  const std::uint64_t reference = first.headers;
  curl.connections = first.connections - curl.connections;
  if (!curl.round(server, kWarmUp, false, reference) || !standIn.round(server, kWarmUp, false, reference)) return false;
  for (int r = 0; r < kRounds; ++r) {
    if (!curl.round(server, kRequests, true, reference) || !standIn.round(server, kRequests, true, reference))
      return false;
  }
  std::printf("http_bench: %d sequential JSON POSTs to 127.0.0.1, best of %d rounds per side, %s\n", kRequests, kRounds,
              title);
  std::printf("  raw libcurl easy handle: %9.0f requests/s, %zu TCP connection(s)\n", kRequests / curl.bestSeconds,
              curl.connections);
  std::printf("  HTTP framework stand-in: %9.0f requests/s, %zu TCP connection(s)\n", kRequests / standIn.bestSeconds,
              standIn.connections);
  std::printf("  time ratio stand-in / libcurl, %s: %.2f%s\n", ratioLabel, standIn.bestSeconds / curl.bestSeconds,
              target);
  return true;
}

// Every thread of the process and the server on one CPU.
int runPinned() {
  const int cpu = pinToOneCpu();
  RunLoop::main();
  FakeBackend local;
  setUpServer(local);
  BenchServer server(local);
  const std::string title = cpu >= 0 ? "all threads on CPU " + std::to_string(cpu)
                                     : std::string("threads not pinned (the ratio depends on their placement)");
  return measure(server, title.c_str(), "pinned", " (target at most 1.25)") ? 0 : 1;
}

// As the client runs: threads where the scheduler puts them, the server in a process of its own.
int runUnpinned() {
  RunLoop::main();
  ServerProcess child;
  if (!child.running()) return 1;
  BenchServer server(child);
  return measure(server, "unpinned, the server in another process", "unpinned", "") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return benchMain(argc, argv, setUpServer, [&] {
    if (hasFlag(argc, argv, "--pinned")) return runPinned();
    // The pinned figures in a process of their own: pinning is for every thread of a process.
    return runSelf({"--pinned"}) ? runUnpinned() : 1;
  });
}
