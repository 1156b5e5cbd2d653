// Small sequential GETs to one loopback server, in one run, by four sides: a reused libcurl easy
// handle, raw data tasks of one URL session, session fetchers, and fetchers of one service that
// share its session. The sides alternate round by round so that drift of the machine's speed falls
// on all alike; each side's best round counts. The process runs on one CPU, every side asks for
// uncompressed replies, and the run stops when the sides' requests differ or a reply comes back
// compressed: otherwise the server's work, not the client's, is measured.
#include <curl/curl.h>
#include <sched.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
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
  Side(const char* sideName, std::function<bool(int count)> work) : name(sideName), run(std::move(work)) {}
  const char* name;
  std::function<bool(int count)> run;  // false when a fetch failed or came back compressed
  double best = 1e9;
  std::set<int> clientPorts;  // one per TCP connection the side used
  Headers headers;
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

Headers recordedHeaders(const FakeBackend& server) {
  auto last = server.lastRequest();
  Headers headers = last ? last->headers : Headers{};
  for (auto& [name, value] : headers) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  std::sort(headers.begin(), headers.end());
  return headers;
}

}  // namespace

int main() {
  // Before any thread starts, so that every thread of the run inherits the one CPU.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  if (sched_setaffinity(0, sizeof(one), &one) != 0) std::printf("fetcher_bench: could not pin to one CPU\n");

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

  std::vector<Side> sides = {
      {"curl", [&](int n) { return curl.run(n); }},
      {"session", [&](int n) { return runSessionTasks(session, request, n); }},
      {"fetcher", [&](int n) { return runFetchers(plainFetcher, n); }},
      {"service", [&](int n) { return runFetchers([&] { return service->fetcherWithRequest(request); }, n); }},
  };
  for (auto& side : sides) {
    server.clearRequests();
    if (!side.run(kWarmUp)) {
      std::printf("fetcher_bench: a %s fetch failed or came back compressed\n", side.name);
      return 1;
    }
    side.headers = recordedHeaders(server);
    if (side.headers != sides.front().headers) {
      std::printf("fetcher_bench: the %s side sends other headers than the curl side:\n", side.name);
      for (const auto& [name, value] : side.headers) std::printf("  %s: %s\n", name.c_str(), value.c_str());
      std::printf(" curl:\n");
      for (const auto& [name, value] : sides.front().headers) std::printf("  %s: %s\n", name.c_str(), value.c_str());
      return 1;
    }
  }
  for (int round = 0; round < kRounds; ++round) {
    for (auto& side : sides) {
      server.clearRequests();
      bool ok = true;
      const double elapsed = seconds([&] { ok = side.run(kFetches); });
      if (!ok) {
        std::printf("fetcher_bench: a %s fetch failed or came back compressed\n", side.name);
        return 1;
      }
      for (const auto& recorded : server.requests()) side.clientPorts.insert(recorded.remotePort);
      side.best = std::min(side.best, elapsed);
    }
  }
  session->finishTasksAndInvalidate();
  std::printf("fetcher_bench: %d rounds of %d sequential small GETs to 127.0.0.1, one CPU\n", kRounds, kFetches);
  for (const auto& side : sides) {
    std::printf("  %-8s best round %8.0f fetches/s, TCP connections %zu%s\n", side.name, kFetches / side.best,
                side.clientPorts.size(), side.clientPorts.size() == 1 ? "" : " (expected 1)");
  }
  std::printf("ratio session/curl: %.2f\n", sides[1].best / sides[0].best);
  std::printf("ratio fetcher/session: %.2f\n", sides[2].best / sides[1].best);
  std::printf("ratio service/session: %.2f\n", sides[3].best / sides[1].best);
  curl_global_cleanup();
  return 0;
}
