#pragma once

#include <gtest/gtest.h>

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

// What a completion handler was given.
struct FetchResult {
  int calls = 0;
  std::optional<Data> data;
  std::optional<NSError> error;
};

// A test on the virtual clock with a loopback server, and helpers to run fetches to it.
class FetcherTest : public ::testing::Test {
 protected:
  FetcherTest() {
    ZSDK_ZTKSessionFetcher::staticCookieStorage()->removeAllCookies();
    auto center = NotificationCenter::defaultCenter();
    for (const char* name :
         {kZTKSessionFetcherStartedNotification, kZTKSessionFetcherStoppedNotification,
          kZTKSessionFetcherRetryDelayStartedNotification, kZTKSessionFetcherRetryDelayStoppedNotification}) {
      observers_.push_back(center->addObserverForName(
          name, nullptr, nullptr, [this](const Notification& n) { notifications.push_back(n.name); }));
    }
  }
  ~FetcherTest() override {
    for (auto token : observers_) NotificationCenter::defaultCenter()->removeObserver(token);
    ZSDK_ZTKSessionFetcher::setRetryRandomSource(nullptr);
  }

  // A fetcher allowed to reach the loopback server.
  std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherFor(const std::string& path) {
    auto fetcher = ZSDK_ZTKSessionFetcher::fetcherWithURLString(server.url(path));
    fetcher->setAllowLocalhostRequest(true);
    fetcher->setAllowedInsecureSchemes({"http"});
    return fetcher;
  }

  static ZSDK_ZTKSessionFetcher::CompletionHandler recordInto(const std::shared_ptr<FetchResult>& result) {
    return [result](std::optional<Data> data, std::optional<NSError> error) {
      ++result->calls;
      result->data = std::move(data);
      result->error = std::move(error);
    };
  }

  // Begins the fetch and runs the loop until its completion ran; retry waits are skipped by moving
  // the virtual clock on by each scheduled interval. Returns the intervals waited.
  std::vector<TimeInterval> fetch(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher,
                                  const std::shared_ptr<FetchResult>& result, int maxRetries = 50) {
    std::vector<TimeInterval> waits;
    fetcher->beginFetchWithCompletionHandler(recordInto(result));
    for (int i = 0; i <= maxRetries; ++i) {
      const bool settled = time.runUntil([&] { return result->calls > 0 || fetcher->retryTimer() != nullptr; }, 10);
      if (!settled || result->calls > 0) break;
      const TimeInterval wait = fetcher->retryTimer()->timeInterval();
      waits.push_back(wait);
      time.advance(wait);
    }
    return waits;
  }

  // The fetcher is gone once its session let go of it: nothing leaks and nothing is pending.
  void expectReleased(std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) {
    std::weak_ptr<ZSDK_ZTKSessionFetcher> weak = fetcher;
    fetcher.reset();
    EXPECT_TRUE(time.runUntil([&] { return weak.expired(); }, 10)) << "the fetcher is still referenced";
  }

  size_t count(const char* name) const { return std::count(notifications.begin(), notifications.end(), name); }

  VirtualTime time;
  FakeBackend server;
  std::vector<std::string> notifications;

 private:
  std::vector<NotificationCenter::ObserverToken> observers_;
};

inline std::shared_ptr<HTTPURLResponse> httpResponse(const char* url, int status, HTTPHeaderFields headers = {}) {
  return std::make_shared<HTTPURLResponse>(*URL::URLWithString(url), status, "HTTP/1.1", std::move(headers));
}
