#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/notification_center.h"
#include "platform/foundation/run_loop.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher.h"

// What a completion handler was given, and the retry intervals waited before it ran.
struct FetchResult {
  int calls = 0;
  std::optional<Data> data;
  std::optional<NSError> error;
  std::vector<TimeInterval> waits;
  long code() const { return error ? error->code : 0; }
};

using Fetcher = ZSDK_ZTKSessionFetcher;

// A test on the virtual clock with a loopback server, and helpers to run fetches to it. Every
// fetcher made for the server must be let go of by the end of the test.
class FetcherTest : public ::testing::Test {
 protected:
  FetcherTest() {
    Fetcher::staticCookieStorage()->removeAllCookies();
    const char* names[] = {kZTKSessionFetcherStartedNotification, kZTKSessionFetcherStoppedNotification,
                           kZTKSessionFetcherRetryDelayStartedNotification,
                           kZTKSessionFetcherRetryDelayStoppedNotification};
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      observers_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          names[i], nullptr, nullptr, [this, i](const Notification&) { ++counts_[i]; }));
    }
  }
  ~FetcherTest() override {
    for (auto token : observers_) NotificationCenter::defaultCenter()->removeObserver(token);
    Fetcher::setRetryRandomSource(nullptr);
  }
  void TearDown() override {
    for (const auto& weak : made_)
      EXPECT_TRUE(time.runUntil([&] { return weak.expired(); }, 10)) << "a fetcher is still referenced";
  }

  // `fetcher`, allowed to reach the loopback server.
  std::shared_ptr<Fetcher> loopback(std::shared_ptr<Fetcher> fetcher) {
    fetcher->setAllowLocalhostRequest(true);
    fetcher->setAllowedInsecureSchemes({"http"});
    made_.push_back(fetcher);
    return fetcher;
  }
  std::shared_ptr<Fetcher> fetcherFor(const std::string& path) {
    return loopback(Fetcher::fetcherWithURLString(server.url(path)));
  }
  // With retry on; intervals <= 0 stay as turning retry on left them.
  std::shared_ptr<Fetcher> retrying(const std::string& path, TimeInterval min = 0, TimeInterval max = 0) {
    auto fetcher = fetcherFor(path);
    fetcher->setRetryEnabled(true);
    if (min > 0) fetcher->setMinRetryInterval(min);
    if (max > 0) fetcher->setMaxRetryInterval(max);
    return fetcher;
  }

  // A template so that a subclass's own begin (which hides the fetcher's) is the one called.
  template <class F>
  static std::shared_ptr<FetchResult> begin(const std::shared_ptr<F>& fetcher) {
    auto result = std::make_shared<FetchResult>();
    fetcher->beginFetchWithCompletionHandler([result](std::optional<Data> data, std::optional<NSError> error) {
      ++result->calls;
      result->data = std::move(data);
      result->error = std::move(error);
    });
    return result;
  }

  // Begins the fetch and runs the loop until its completion ran; retry waits are skipped by moving
  // the virtual clock on by each scheduled interval.
  FetchResult fetch(const std::shared_ptr<Fetcher>& fetcher, int maxRetries = 50) {
    auto result = begin(fetcher);
    for (int i = 0; i <= maxRetries; ++i) {
      const bool settled = time.runUntil([&] { return result->calls > 0 || fetcher->retryTimer() != nullptr; }, 10);
      if (!settled || result->calls > 0) break;
      result->waits.push_back(fetcher->retryTimer()->timeInterval());
      time.advance(result->waits.back());
    }
    return *result;
  }

  // The fetcher is gone once its session let go of it: nothing leaks and nothing is pending.
  void expectReleased(std::shared_ptr<Fetcher>& fetcher) {
    std::weak_ptr<Fetcher> weak = fetcher;
    fetcher.reset();
    EXPECT_TRUE(time.runUntil([&] { return weak.expired(); }, 10)) << "the fetcher is still referenced";
  }

  // Notifications posted: fetches started and stopped, retry delays started and stopped.
  using Counts = std::array<std::size_t, 4>;
  Counts counts() const { return counts_; }

  VirtualTime time;
  FakeBackend server;

 private:
  Counts counts_{};
  std::vector<NotificationCenter::ObserverToken> observers_;
  std::vector<std::weak_ptr<Fetcher>> made_;
};

inline std::shared_ptr<HTTPURLResponse> httpResponse(const char* url, int status, HTTPHeaderFields headers = {}) {
  return std::make_shared<HTTPURLResponse>(*URL::URLWithString(url), status, "HTTP/1.1", std::move(headers));
}
