// Sequential small JSON POSTs through the HTTP framework stand-in, against a raw libcurl easy
// handle reused for the same requests, both to the same loopback server in one run. Both ask for an
// uncompressed reply: the test server's compression would otherwise dominate both sides.
//
// The whole process runs on one CPU. A wake-up across CPUs costs tens of microseconds on a virtual
// machine, a request here costs about forty, and which threads the scheduler happens to put
// together changed either side's rate threefold from run to run; on one CPU both sides pay the
// same for every hand-off between threads, so the ratio shows the stand-in's own cost.
#include <curl/curl.h>
#include <sched.h>

#include <chrono>
#include <cstdio>
#include <string>

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
// best round counts. TCP connections are counted over everything a side sent.
template <class Client>
struct Side {
  Client client;
  double bestSeconds = -1;  // negative: a request failed
  std::size_t connections = 0;
  bool failed = false;

  explicit Side(const FakeBackend& server) : client(server.url("bench")) {}

  void round(const FakeBackend& server, int count, bool timed) {
    if (failed) return;
    const std::size_t before = server.connectionCount();
    const auto start = Clock::now();
    for (int i = 0; i < count && !failed; ++i) failed = !client.post();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    connections += server.connectionCount() - before;
    if (failed) {
      bestSeconds = -1;
    } else if (timed && (bestSeconds < 0 || seconds < bestSeconds)) {
      bestSeconds = seconds;
    }
  }
};

// Before any thread starts, so every thread inherits it. Returns the CPU, or -1.
int pinToOneCpu() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
  }
  return -1;
}

}  // namespace

int main() {
  const int cpu = pinToOneCpu();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  RunLoop::main();
  {
    FakeBackend server;
    server.reply("POST", "/bench", {.status = 200, .body = kReply, .contentType = "application/json"});
    Side<RawCurl> curl(server);
    Side<StandIn> standIn(server);
    curl.round(server, kWarmUp, false);
    standIn.round(server, kWarmUp, false);
    for (int r = 0; r < kRounds; ++r) {
      curl.round(server, kRequests, true);
      standIn.round(server, kRequests, true);
    }

    std::printf("http_bench: %d sequential JSON POSTs to 127.0.0.1, best of %d rounds per side, ", kRequests, kRounds);
    if (cpu >= 0) {
      std::printf("all threads on CPU %d\n", cpu);
    } else {
      std::printf("threads not pinned (the ratio depends on their placement)\n");
    }
    if (curl.failed || standIn.failed) {
      std::printf("  a request failed (libcurl %s, stand-in %s)\n", curl.failed ? "failed" : "ok",
                  standIn.failed ? "failed" : "ok");
    } else {
      std::printf("  raw libcurl easy handle: %9.0f requests/s, %zu TCP connection(s)\n", kRequests / curl.bestSeconds,
                  curl.connections);
      std::printf("  HTTP framework stand-in: %9.0f requests/s, %zu TCP connection(s) (target 1)\n",
                  kRequests / standIn.bestSeconds, standIn.connections);
      std::printf("  time ratio stand-in / libcurl: %.2f (target at most 1.5)\n",
                  standIn.bestSeconds / curl.bestSeconds);
    }
  }
  curl_global_cleanup();
  return 0;
}
