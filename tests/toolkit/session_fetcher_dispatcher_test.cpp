#include <gtest/gtest.h>

#include "fetcher_test_support.h"
#include "toolkit/session_fetcher_service.h"

using Service = ZSDK_ZTKSessionFetcherService;

class DispatcherTest : public FetcherTest {
 protected:
  DispatcherTest() {
    service->allowLocalhostRequest = true;
    service->allowedInsecureSchemes = {"http"};
  }
  std::shared_ptr<Fetcher> serviceFetcher(const std::string& path) {
    return loopback(service->fetcherWithURLString(server.url(path)));
  }
  std::shared_ptr<Service> service = Service::create();
};

// Two fetches share one session through the dispatcher; once idle for the discard interval the
// session is let go and the next fetch makes a new one.
TEST_F(DispatcherTest, SharedSessionIsRoutedAndDiscardedWhenIdle) {
  server.reply("GET", "/a", {200, {}, "alpha"});
  server.reply("GET", "/b", {200, {}, "bravo"});
  service->setUnusedSessionTimeout(30);
  const auto dispatcher = service->sessionDelegateDispatcher();
  const auto first = fetch(serviceFetcher("/a"));
  const auto session = service->session();
  const auto second = fetch(serviceFetcher("/b"));
  EXPECT_EQ(first.data->toString() + second.data->toString(), "alphabravo");
  ASSERT_TRUE(session);
  EXPECT_EQ(session->delegate(), std::static_pointer_cast<URLSessionDelegate>(dispatcher));
  EXPECT_EQ(service->session(), session);
  EXPECT_EQ(dispatcher->numberOfMappedTasks(), 0U);
  EXPECT_TRUE(dispatcher->hasDiscardTimer());
  time.advance(29);
  EXPECT_EQ(service->session(), session);
  time.advance(1);
  EXPECT_NE(service->sessionDelegateDispatcher(), dispatcher);
  EXPECT_FALSE(service->session());
  fetch(serviceFetcher("/a"));
  EXPECT_NE(service->session(), session);
}

// A callback for a task no fetcher runs gets the platform's default answer instead of none.
TEST_F(DispatcherTest, UnknownTaskGetsDefaultAnswers) {
  const auto dispatcher = service->sessionDelegateDispatcher();
  const URLRequest proposed = URLRequest::requestWithURL(*URL::URLWithString(server.url("/next")));
  std::optional<URLRequest> redirect;
  dispatcher->willPerformHTTPRedirection(nullptr, nullptr, nullptr, proposed, [&](auto r) { redirect = r; });
  std::optional<URLSessionAuthChallengeDisposition> challenge;
  dispatcher->didReceiveChallenge(nullptr, nullptr, URLAuthenticationChallenge{}, [&](auto d, auto) { challenge = d; });
  std::optional<URLSessionResponseDisposition> response;
  dispatcher->didReceiveResponse(nullptr, nullptr, nullptr, [&](auto d) { response = d; });
  std::optional<CachedURLResponse> cached;
  const CachedURLResponse proposedCache{httpResponse("http://127.0.0.1/", 200), Data::fromString("x")};
  dispatcher->willCacheResponse(nullptr, nullptr, proposedCache, [&](auto c) { cached = c; });
  dispatcher->didCompleteWithError(nullptr, nullptr, std::nullopt);  // nobody to tell
  EXPECT_EQ(redirect->url, proposed.url);
  EXPECT_EQ(challenge, URLSessionAuthChallengeDisposition::PerformDefaultHandling);
  EXPECT_EQ(response, URLSessionResponseDisposition::Allow);
  EXPECT_TRUE(cached.has_value());
}
