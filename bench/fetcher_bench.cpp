// Small sequential GETs through the session fetcher, against raw data tasks of one URL session,
// both to the same loopback server in one run. The two sides alternate in blocks so that drift of
// the machine's speed falls on both alike.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/foundation/run_loop.h"
#include "platform/net/url_session.h"
#include "support/fake_backend.h"
#include "toolkit/session_fetcher.h"

namespace {

constexpr int kFetches = 1000;
constexpr int kBlock = 100;
constexpr int kWarmUp = 20;
const std::string kReply = "{\"success\":true,\"points\":12}";

using Clock = std::chrono::steady_clock;

// Seconds taken by `count` fetches, or a negative value when one failed.
double fetchThroughFetcher(const std::string& url, int count) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto fetcher = ZSDK_ZTKSessionFetcher::fetcherWithURLString(url);
    fetcher->setAllowLocalhostRequest(true);
    bool done = false;
    bool ok = false;
    fetcher->beginFetchWithCompletionHandler([&](std::optional<Data> data, std::optional<NSError> error) {
      done = true;
      ok = !error && data && data->toString() == kReply;
    });
    if (!RunLoop::main().runUntil([&] { return done; }, 10.0) || !ok) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double fetchThroughSession(const std::shared_ptr<URLSession>& session, const std::string& url, int count) {
  const URLRequest request(*URL::URLWithString(url));
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    bool done = false;
    bool ok = false;
    session
        ->dataTaskWithRequest(
            request,
            [&](std::optional<Data> data, std::shared_ptr<const URLResponse> response, std::optional<NSError> error) {
              auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
              done = true;
              ok = !error && http && http->statusCode() == 200 && data && data->toString() == kReply;
            })
        ->resume();
    if (!RunLoop::main().runUntil([&] { return done; }, 10.0) || !ok) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  RunLoop::main();
  FakeBackend server;
  server.reply("GET", "/bench", {.status = 200, .body = kReply, .contentType = "application/json"});
  const std::string url = server.url("bench");
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration(), nullptr,
                                                      DispatchQueue::main());

  double fetcherSeconds = 0;
  double sessionSeconds = 0;
  bool failed = fetchThroughSession(session, url, kWarmUp) < 0 || fetchThroughFetcher(url, kWarmUp) < 0;
  for (int done = 0; done < kFetches && !failed; done += kBlock) {
    const double raw = fetchThroughSession(session, url, kBlock);
    const double fetched = fetchThroughFetcher(url, kBlock);
    failed = raw < 0 || fetched < 0;
    sessionSeconds += raw;
    fetcherSeconds += fetched;
  }
  session->finishTasksAndInvalidate();
  if (failed) {
    std::printf("fetcher_bench: a fetch failed\n");
    return 0;
  }
  std::printf("fetcher_bench: %d sequential small GETs to 127.0.0.1\n", kFetches);
  std::printf("  raw URL-session data tasks: %9.0f fetches/s\n", kFetches / sessionSeconds);
  std::printf("  session fetcher:            %9.0f fetches/s\n", kFetches / fetcherSeconds);
  std::printf("  time ratio fetcher / raw tasks: %.2f (target at most 1.2)\n", fetcherSeconds / sessionSeconds);
  return 0;
}
