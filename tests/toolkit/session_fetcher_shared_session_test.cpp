#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "support/fake_backend.h"
#include "support/virtual_time.h"
#include "toolkit/session_fetcher_service.h"

namespace {

using Fetcher = ZSDK_ZTKSessionFetcher;
using Service = ZSDK_ZTKSessionFetcherService;

constexpr int kRounds = 40;
constexpr int kThreads = 4;

// The first fetches of a new service, begun on several threads at once, all find the one shared
// session: each completes, and none is left on a session of its own.
TEST(SharedSessionRaceTest, FirstFetchesBegunTogetherAllCompleteOnOneSession) {
  VirtualTime time;
  FakeBackend server;
  server.reply("GET", "/race", {.status = 200, .body = "ok"});
  for (int round = 0; round < kRounds; ++round) {
    auto service = Service::create();
    service->allowLocalhostRequest = true;
    service->allowedInsecureSchemes = {"http"};
    std::vector<std::shared_ptr<Fetcher>> fetchers;
    for (int i = 0; i < kThreads; ++i) fetchers.push_back(service->fetcherWithURLString(server.url("race")));

    int succeeded = 0;
    int failed = 0;  // both counted on the main queue
    std::latch together(kThreads);
    std::vector<std::thread> threads;
    for (const auto& fetcher : fetchers) {
      threads.emplace_back([&, fetcher] {
        together.arrive_and_wait();
        fetcher->beginFetchWithCompletionHandler([&](std::optional<Data> data, std::optional<NSError> error) {
          ++(!error && data && data->toString() == "ok" ? succeeded : failed);
        });
      });
    }
    for (auto& thread : threads) thread.join();

    ASSERT_TRUE(time.runUntil([&] { return succeeded + failed == kThreads; }, 10))
        << "round " << round << ": " << kThreads - succeeded - failed << " fetches never completed";
    EXPECT_EQ(failed, 0) << "round " << round;
    const auto shared = service->session();
    ASSERT_NE(shared, nullptr);
    for (const auto& fetcher : fetchers) EXPECT_EQ(fetcher->session(), shared) << "round " << round;
  }
}

}  // namespace
