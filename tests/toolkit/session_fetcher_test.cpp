#include <gtest/gtest.h>

#include "fetcher_test_support.h"
#include "platform/net/url_error.h"
#include "platform/ui/ui_application.h"
#include "toolkit/session_fetcher_service.h"

namespace {

// Answers every fetch with 200 and `body`, without the network.
Fetcher::TestBlock answerWith(std::string body, std::shared_ptr<int> calls) {
  return [body, calls](const std::shared_ptr<Fetcher>& fetcher, auto respond) {
    ++*calls;
    respond(std::make_shared<HTTPURLResponse>(*fetcher->mutableRequest()->url, 200, "HTTP/1.1", HTTPHeaderFields{}),
            Data::fromString(body), std::nullopt);
  };
}

using SessionFetcherTest = FetcherTest;

TEST_F(SessionFetcherTest, MethodAndRetryCapFollowTheBody) {
  server.reply("*", "/m", {.body = "ok"});
  const URLRequest plain(*URL::URLWithString(server.url("m")));
  URLRequest overridden = plain;
  overridden.httpMethod = "POST";
  overridden.setValue("HEAD", "X-HTTP-Method-Override");
  struct Row {
    URLRequest request;
    std::optional<std::string> body;
    TimeInterval callersCap, cap;
    const char* method;
  };
  // A body makes a GET a POST that may retry for ten minutes; the override names the method the
  // server acts on; a cap the caller set stays.
  for (const auto& row : std::vector<Row>{{plain, "payload", 0, 600, "POST"},
                                          {plain, std::nullopt, 0, 60, "GET"},
                                          {overridden, "x", 0, 60, "POST"},
                                          {plain, std::nullopt, 15, 15, "GET"}}) {
    auto fetcher = loopback(Fetcher::fetcherWithRequest(row.request));
    fetcher->setRetryEnabled(true);
    if (row.callersCap > 0) fetcher->setMaxRetryInterval(row.callersCap);
    if (row.body) fetcher->setBodyData(Data::fromString(*row.body));
    EXPECT_FALSE(fetch(fetcher).error);
    EXPECT_EQ(std::tuple(fetcher->maxRetryInterval(), server.lastRequest()->method, server.lastRequest()->body),
              std::tuple(row.cap, row.method, row.body.value_or("")));
  }
}

TEST_F(SessionFetcherTest, InsecureSchemesAndLocalhostAreRefused) {
  auto simulated = std::make_shared<int>(0);
  auto refused = [&](std::shared_ptr<Fetcher> fetcher) {
    fetcher->setTestBlock(answerWith("simulated", simulated));
    auto result = fetch(fetcher);
    EXPECT_EQ(result.calls, 1);
    // Its session holds it as delegate until invalidated: a fetcher done with its fetch (refused,
    // or simulated with its unstarted task cancelled) must have let go of that session.
    EXPECT_FALSE(fetcher->session());
    return result;
  };
  auto refusal = [](long code, const std::string& url) {
    return NSError(kZTKSessionFetcherErrorDomain, code, {{NSURLErrorFailingURLStringErrorKey, Value(url)}});
  };

  auto result = refused(Fetcher::fetcherWithURLString("http://example.invalid/x"));
  EXPECT_EQ(result.error, refusal(-5, "http://example.invalid/x"));
  EXPECT_FALSE(result.data);

  // Schemes compare without regard to case; https and data always pass.
  auto upper = Fetcher::fetcherWithURLString("http://example.invalid/x");
  upper->setAllowedInsecureSchemes({"HTTP"});
  EXPECT_FALSE(refused(upper).error);
  EXPECT_FALSE(refused(Fetcher::fetcherWithURLString("HTTPS://example.invalid/x")).error);
  EXPECT_FALSE(refused(Fetcher::fetcherWithURLString("data:,hello")).error);
  EXPECT_EQ(*simulated, 3);

  // Loopback needs its own permission, whatever schemes are allowed.
  for (const std::string& url : {server.url("x"), std::string("http://localhost/x"), std::string("http://[::1]/x")}) {
    auto local = Fetcher::fetcherWithURLString(url);
    local->setAllowedInsecureSchemes({"http"});
    EXPECT_EQ(refused(local).code(), -5) << url;
  }
  EXPECT_EQ(std::tuple(*simulated, server.requestCount(), counts()[0]), std::tuple(3, 0u, 3u));
  EXPECT_EQ(refused(Fetcher::fetcherWithRequest(URLRequest())).error, refusal(-1, "(missing URL)"));
}

TEST_F(SessionFetcherTest, StatusBoundaries) {
  // From 300 on the status is the error; a body is the data and goes into the user info.
  for (const auto& [status, body] :
       std::vector<std::pair<int, std::string>>{{299, "fine"}, {300, "choices"}, {304, ""}}) {
    server.reply("GET", "/s", {.status = status, .body = body});
    auto fetcher = fetcherFor("s");
    const auto result = fetch(fetcher);
    EXPECT_EQ(fetcher->statusCode(), status);
    const auto data = body.empty() ? std::nullopt : std::optional(Data::fromString(body));
    EXPECT_EQ(result.data, data);
    Value::Dictionary info;
    if (data) info["data"] = Value(*data);
    EXPECT_EQ(result.error,
              status < 300 ? std::nullopt : std::optional(NSError(kZTKSessionFetcherStatusDomain, status, info)));
  }
  EXPECT_EQ(counts(), (Counts{3, 3, 0, 0}));
}

TEST_F(SessionFetcherTest, StopBeforeTheResponseSuppressesEveryCallback) {
  server.reply("GET", "/slow", {.body = "late", .delay = 0.3});
  auto fetcher = retrying("slow");
  int callbacks = 0;
  fetcher->setReceivedProgressBlock([&](std::int64_t, std::int64_t) { ++callbacks; });
  fetcher->setSendProgressBlock([&](std::int64_t, std::int64_t, std::int64_t) { ++callbacks; });
  fetcher->setRetryBlock([&](bool, std::optional<NSError>, auto respond) {
    ++callbacks;
    respond(true);
  });
  auto result = begin(fetcher);
  ASSERT_TRUE(server.waitForRequestCount(1));
  fetcher->stopFetching();
  // The session is not kept until the cancelled task reports: that report may never be delivered.
  EXPECT_EQ(std::tuple(fetcher->isFetching(), fetcher->userStoppedFetching(), fetcher->session() != nullptr),
            std::tuple(false, true, false));

  expectReleased(fetcher);
  EXPECT_EQ(std::tuple(result->calls, callbacks), std::tuple(0, 0));
  EXPECT_EQ(counts(), (Counts{1, 1, 0, 0}));
}

// A stop from inside the session's configuration block comes before the fetcher's own session
// exists: that session must still be invalidated, or it holds the fetcher as its delegate for good.
TEST_F(SessionFetcherTest, StopWhileItsSessionIsMadeLeavesNothingBehind) {
  auto service = ZSDK_ZTKSessionFetcherService::create();
  service->setReuseSession(false);  // its fetchers make sessions of their own
  service->allowLocalhostRequest = true;
  service->allowedInsecureSchemes = {"http"};
  for (const bool withService : {false, true}) {
    SCOPED_TRACE(withService ? "service fetcher" : "plain fetcher");
    auto fetcher = withService ? loopback(service->fetcherWithURLString(server.url("never"))) : fetcherFor("never");
    int configured = 0;
    fetcher->setConfigurationBlock([&](const std::shared_ptr<Fetcher>& self, URLSessionConfiguration&) {
      ++configured;
      self->stopFetching();
    });
    auto result = begin(fetcher);
    time.runUntilIdle();
    EXPECT_EQ(configured, 1);
    EXPECT_EQ(std::tuple(fetcher->session() != nullptr, fetcher->sessionTask() != nullptr, fetcher->isFetching()),
              std::tuple(false, false, false));
    EXPECT_EQ(service->numberOfFetchers(), 0U);
    expectReleased(fetcher);
    EXPECT_EQ(result->calls, 0);
  }
  EXPECT_TRUE(server.requests().empty());
}

// The default comment is there until one is set; a cleared one stays cleared.
TEST_F(SessionFetcherTest, CommentDefaultsUntilSet) {
  auto fetcher = fetcherFor("unused");
  EXPECT_EQ(fetcher->comment(), "(No fetcher comment set)");
  fetcher->setCommentWithFormat("fetch {}", 7);
  EXPECT_EQ(fetcher->comment(), "fetch 7");
  fetcher->setComment(std::nullopt);
  EXPECT_EQ(fetcher->comment(), std::nullopt);
}

TEST_F(SessionFetcherTest, SecondBeginFailsOnlyTheNewcomer) {
  server.reply("GET", "/once", {.body = "first", .delay = 0.1});
  auto fetcher = fetcherFor("once");
  auto first = begin(fetcher);
  auto second = begin(fetcher);
  ASSERT_TRUE(time.runUntil([&] { return first->calls > 0 && second->calls > 0; }));
  EXPECT_EQ(std::tuple(first->data, first->error), std::tuple(Data::fromString("first"), std::nullopt));
  EXPECT_EQ(second->error, NSError(kZTKSessionFetcherErrorDomain, -1,
                                   {{NSURLErrorFailingURLStringErrorKey, Value(server.url("once"))}}));
  EXPECT_EQ(server.requestCount(), 1u);
  // A finished fetcher may fetch again.
  EXPECT_EQ(fetch(fetcher).data, Data::fromString("first"));
}

TEST_F(SessionFetcherTest, WaitOnTheMainThreadLetsMainQueueCallbacksRun) {
  server.reply("GET", "/w", {.body = "waited"});
  auto fetcher = fetcherFor("w");
  auto result = begin(fetcher);
  EXPECT_TRUE(fetcher->waitForCompletionWithTimeout(5));
  EXPECT_EQ(std::tuple(result->calls, result->data), std::tuple(1, Data::fromString("waited")));

  // Same with the completion on a queue of its own.
  auto queued = fetcherFor("w");
  queued->setCallbackQueue(DispatchQueue::make("fetcher-test"));
  std::atomic<int> calls{0};
  queued->beginFetchWithCompletionHandler([&calls](auto, auto) { ++calls; });
  EXPECT_TRUE(queued->waitForCompletionWithTimeout(5));
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(SessionFetcherTest, DelegateSelectorGetsFetcherDataAndError) {
  server.reply("GET", "/d", {.status = 404, .body = "missing"});
  auto fetcher = fetcherFor("d");
  auto target = std::make_shared<int>(0);
  std::optional<std::pair<bool, long>> seen;  // the fetcher itself, and the status
  fetcher->beginFetchWithDelegate(target, [&](const auto& f, std::optional<Data>, std::optional<NSError> error) {
    seen.emplace(f == fetcher, error ? error->code : 0);
  });
  ASSERT_TRUE(time.runUntil([&] { return seen.has_value(); }));
  EXPECT_EQ(seen, std::pair(true, 404L));
}

TEST_F(SessionFetcherTest, ExpiredBackgroundTimeEndsTheFetch) {
  UIApplication::resetSharedApplication();
  server.reply("GET", "/bg", {.body = "late", .delay = 0.3});
  auto fetcher = fetcherFor("bg");
  auto result = begin(fetcher);
  auto application = UIApplication::sharedApplication();
  EXPECT_EQ(application->openBackgroundTaskCount(), 1u);
  ASSERT_TRUE(server.waitForRequestCount(1));
  application->expireBackgroundTasks();
  ASSERT_TRUE(time.runUntil([&] { return result->calls > 0; }));
  EXPECT_EQ(result->error, NSError(kZTKSessionFetcherErrorDomain, -3));
  EXPECT_EQ(application->openBackgroundTaskCount(), 0u);
  expectReleased(fetcher);
  EXPECT_EQ(result->calls, 1);
}

TEST_F(SessionFetcherTest, RedirectToAnotherOriginDropsCredentialsAndFollowsOtherwise) {
  FakeBackend other;
  server.reply("GET", "/away", {.status = 302, .headers = {{"Location", other.url("landing")}}});
  server.reply("GET", "/here", {.status = 302, .headers = {{"Location", server.url("landed")}}});
  other.reply("GET", "/landing", {.body = "there"});
  server.reply("GET", "/landed", {.body = "here"});

  auto signedRequest = [](const std::string& url) {
    URLRequest request(*URL::URLWithString(url));
    request.setValue("Bearer secret", "Authorization");
    request.setValue("session=1", "Cookie");
    request.setValue("kept", "X-Custom");
    return request;
  };
  auto away = loopback(Fetcher::fetcherWithRequest(signedRequest(server.url("away"))));
  EXPECT_EQ(fetch(away).data, Data::fromString("there"));
  ASSERT_EQ(other.requestCount(), 1u);
  const auto landing = other.requests()[0];
  EXPECT_EQ(std::tuple(landing.hasHeader("Authorization"), landing.header("Cookie") == "session=1",
                       landing.header("X-Custom")),
            std::tuple(false, false, "kept"));
  EXPECT_EQ(away->mutableRequest()->url->absoluteString(), other.url("landing"));

  EXPECT_EQ(fetch(loopback(Fetcher::fetcherWithRequest(signedRequest(server.url("here"))))).data,
            Data::fromString("here"));
  EXPECT_EQ(server.lastRequest()->header("Authorization"), "Bearer secret");

  // A 303 answering a POST goes on as a GET without the body.
  server.reply("POST", "/form", {.status = 303, .headers = {{"Location", "/landed"}}});
  auto form = fetcherFor("form");
  form->setBodyData(Data::fromString("password=secret"));
  EXPECT_EQ(fetch(form).data, Data::fromString("here"));
  EXPECT_EQ(std::tie(server.lastRequest()->method, server.lastRequest()->body), std::tuple("GET", ""));
  EXPECT_EQ(form->mutableRequest()->httpMethod, "GET");
}

TEST_F(SessionFetcherTest, ForgottenFetcherCompletesAndItsCookiesGoBackToTheSameLoopbackServer) {
  server.reply("GET", "/set", {.headers = {{"Set-Cookie", "token=abc; Path=/"}}, .body = "done"});
  auto result = begin(fetcherFor("set"));  // nobody holds the fetcher
  ASSERT_TRUE(time.runUntil([&] { return result->calls > 0; }));
  EXPECT_EQ(result->data, Data::fromString("done"));
  EXPECT_EQ(Fetcher::staticCookieStorage()->cookies().size(), 1u);
  fetch(fetcherFor("get"));
  EXPECT_EQ(server.lastRequest()->header("Cookie"), "token=abc");
}

TEST_F(SessionFetcherTest, CookieStorageMethods) {
  auto fetcher = Fetcher::fetcherWithURLString("https://example.invalid/");
  auto mine = std::make_shared<ZSDK_ZTKSessionCookieStorage>();
  fetcher->setCookieStorage(mine);
  for (const auto& [method, storage] : std::vector<std::pair<int, std::shared_ptr<HTTPCookieStorage>>>{
           {1, mine}, {2, HTTPCookieStorage::sharedHTTPCookieStorage()}, {7, nullptr}}) {
    fetcher->setCookieStorageMethod(method);
    EXPECT_EQ(fetcher->cookieStorage(), storage) << method;
  }
  // A private store of its own.
  fetcher->setCookieStorageMethod(3);
  EXPECT_NE(std::dynamic_pointer_cast<ZSDK_ZTKSessionCookieStorage>(fetcher->cookieStorage()), nullptr);
  EXPECT_NE(fetcher->cookieStorage(), Fetcher::staticCookieStorage());
}

TEST_F(SessionFetcherTest, BodyPastItsMaximumFailsTheFetchWithoutAPartialBody) {
  server.reply("GET", "/ten", {.body = "0123456789"});
  struct Case {
    std::int64_t maximum;
    bool accumulate;
    long code;
  };
  for (const Case& c : {Case{10, false, 0}, Case{9, false, NSURLErrorDataLengthExceedsMaximum},
                        Case{9, true, NSURLErrorDataLengthExceedsMaximum}}) {
    SCOPED_TRACE(testing::Message() << c.maximum << (c.accumulate ? " accumulated" : ""));
    auto fetcher = fetcherFor("ten");
    fetcher->setMaximumResponseBodySize(c.maximum);
    std::size_t accumulated = 0;
    if (c.accumulate) fetcher->setAccumulateDataBlock([&](auto chunk) { accumulated += chunk ? chunk->size() : 0; });
    const auto result = fetch(fetcher);
    EXPECT_EQ(result.code(), c.code);
    if (c.code != 0) {
      EXPECT_EQ(result.error->domain, NSURLErrorDomain);
      EXPECT_FALSE(result.data);
      EXPECT_EQ(accumulated, 0u);
    } else {
      EXPECT_EQ(result.data, Data::fromString("0123456789"));
    }
    expectReleased(fetcher);
  }
}

TEST_F(SessionFetcherTest, ResponseDispositionAndAccumulatedData) {
  // A second response (after a redirect or challenge hop) tells the accumulator to start over,
  // unless the caller cancels.
  for (auto disposition : {URLSessionResponseDisposition::Allow, URLSessionResponseDisposition::Cancel}) {
    auto fetcher = Fetcher::fetcherWithURLString("https://example.invalid/");
    std::vector<std::optional<Data>> chunks;
    fetcher->setAccumulateDataBlock([&](std::optional<Data> chunk) { chunks.push_back(chunk); });
    std::optional<URLSessionResponseDisposition> answered;
    fetcher->setDidReceiveResponseBlock([&](auto, auto decide) { decide(disposition); });
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
    auto task = session->dataTaskWithRequest(*fetcher->mutableRequest());

    fetcher->didReceiveData(session, task, Data::fromString("hello"));
    fetcher->didReceiveResponse(session, task, httpResponse("https://example.invalid/", 200),
                                [&](URLSessionResponseDisposition d) { answered = d; });
    time.runUntilIdle();
    EXPECT_EQ(answered, disposition);
    std::vector<std::optional<Data>> expected{Data::fromString("hello")};
    if (disposition == URLSessionResponseDisposition::Allow) expected.push_back(std::nullopt);
    EXPECT_EQ(chunks, expected);
    EXPECT_EQ(fetcher->downloadedLength(), 0);
  }
}

}  // namespace
