#include <gtest/gtest.h>

#include "fetcher_test_support.h"
#include "platform/foundation/date_formatter.h"

namespace {

using SessionFetcherRetryTest = FetcherTest;

// Signs with "Bearer t<N>"; priming for a refresh moves on to the next token.
class CountingAuthorizer : public ZTKFetcherAuthorizationProtocol {
 public:
  void authorizeRequest(std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
                        DidFinishSelector didFinishSelector) override {
    ++authorizations;
    request->setValue("Bearer t" + std::to_string(token), "Authorization");
    DispatchQueue::main()->async(
        [request, delegate, didFinishSelector] { didFinishSelector(nullptr, request, std::nullopt); });
  }
  void stopAuthorization() override {}
  void stopAuthorizationForRequest(const std::shared_ptr<URLRequest>&) override {}
  bool isAuthorizingRequest(const std::shared_ptr<URLRequest>&) override { return false; }
  bool isAuthorizedRequest(const std::shared_ptr<URLRequest>& request) override {
    return request->valueForHTTPHeaderField("Authorization").has_value();
  }
  std::optional<std::string> userEmail() override { return std::nullopt; }
  bool primeForRefresh() override {
    ++primes;
    ++token;
    return true;
  }

  int token = 1;
  int primes = 0;
  int authorizations = 0;
};

ScriptedReply status(int code, std::vector<std::pair<std::string, std::string>> headers = {}) {
  return {.status = code, .headers = std::move(headers), .body = "status " + std::to_string(code)};
}

// Who signed each request the server got.
std::vector<std::optional<std::string>> authorizations(const FakeBackend& server) {
  std::vector<std::optional<std::string>> headers;
  for (const auto& request : server.requests()) headers.push_back(request.header("Authorization"));
  return headers;
}

TEST_F(SessionFetcherRetryTest, MinimumIntervalComesFromTheRandomSource) {
  std::uint32_t next = 0;
  Fetcher::setRetryRandomSource([&] { return next; });
  auto fetcher = Fetcher::fetcherWithURLString("https://example.invalid/");
  EXPECT_DOUBLE_EQ(fetcher->minRetryInterval(), 1.0);

  next = 65534;
  fetcher->setRetryEnabled(true);
  EXPECT_DOUBLE_EQ(fetcher->minRetryInterval(), 1.0 + 65534.0 / 65535.0);
  EXPECT_EQ(fetcher->retryFactor(), 2.0);

  next = 65535 + 10;  // out of range: reduced
  fetcher->setMinRetryInterval(-1);
  EXPECT_DOUBLE_EQ(fetcher->minRetryInterval(), 1.0 + 10.0 / 65535.0);
  fetcher->setMaxRetryInterval(0);
  EXPECT_EQ(fetcher->maxRetryInterval(), -1.0);

  // Turning retry off and on again keeps nothing of the first setup.
  fetcher->setMinRetryInterval(0.25);
  fetcher->setRetryFactor(3);
  fetcher->setRetryEnabled(false);
  next = 0;
  fetcher->setRetryEnabled(true);
  EXPECT_EQ(std::tuple(fetcher->minRetryInterval(), fetcher->retryFactor()), std::tuple(1.0, 2.0));
}

TEST_F(SessionFetcherRetryTest, BackOffDoublesUntilTheCap) {
  server.reply("GET", "/busy", status(503));
  auto fetcher = retrying("busy", 1.0, 10.0);
  const auto result = fetch(fetcher);
  // 16 would reach the cap of 10: the series ends after 8.
  EXPECT_EQ(result.waits, (std::vector<TimeInterval>{1, 2, 4, 8}));
  EXPECT_EQ(std::tuple(server.requestCount(), fetcher->retryCount(), result.calls, result.code()),
            std::tuple(5u, 4u, 1, 503));
  EXPECT_EQ(counts(), (Counts{5, 5, 4, 4}));
}

TEST_F(SessionFetcherRetryTest, RetryableFailuresAndWhatStopsThem) {
  server.replies("GET", "/flaky", {status(502), status(504), {.body = "finally"}});
  const auto flaky = fetch(retrying("flaky", 0.5));
  EXPECT_EQ(flaky.waits, (std::vector<TimeInterval>{0.5, 1.0}));
  EXPECT_EQ(flaky.data, Data::fromString("finally"));

  // 404 and 500 are final, also with retry on.
  for (int code : {404, 500}) {
    server.reply("GET", "/final", status(code));
    const auto final = fetch(retrying("final"));
    EXPECT_EQ(std::pair(final.waits.size(), final.code()), std::pair(std::size_t{0}, long{code}));
  }

  // The elapsed time of the whole series ends it: three caps after the first begin.
  server.reply("GET", "/slowly", status(408));
  auto slowly = retrying("slowly", 1.0, 100.0);
  auto result = begin(slowly);
  ASSERT_TRUE(time.runUntil([&] { return slowly->retryTimer() != nullptr; }));
  // The retry starts long past 3 x 100 s. The clock moves before the overdue timer fires: a retry
  // fired on time could get its answer while advance() still steps through the 300 s, and retry
  // again.
  time.clock()->advance(301);
  time.runUntilIdle();
  ASSERT_TRUE(time.runUntil([&] { return result->calls > 0 || slowly->retryTimer() != nullptr; }));
  EXPECT_EQ(std::tuple(result->calls, result->code()), std::tuple(1, 408));
  EXPECT_EQ(server.requestCount(), 7u);  // flaky 3, final 1 + 1, slowly 2
}

TEST_F(SessionFetcherRetryTest, RetryAfterIsHonouredButBounded) {
  // 503 + Retry-After waits the server's time, capped, even beyond the next-interval stop.
  server.reply("GET", "/later", status(503, {{"Retry-After", "120"}}));
  auto later = retrying("later");
  auto result = begin(later);
  ASSERT_TRUE(time.runUntil([&] { return later->retryTimer() != nullptr || result->calls > 0; }));
  ASSERT_NE(later->retryTimer(), nullptr);
  EXPECT_EQ(std::tuple(later->retryTimer()->timeInterval(), later->retryAfterInterval()), std::tuple(60.0, 120.0));
  later->stopFetching();
  EXPECT_EQ(counts()[3], 1u);
  EXPECT_EQ(result->calls, 0);

  // Any other status with Retry-After keeps the exponential wait; the header lifts the
  // next-interval stop (min 1 >= cap 1 would end the series at once).
  server.replies("GET", "/gateway", {status(502, {{"Retry-After", "30"}}), {.body = "up"}});
  const auto gateway = fetch(retrying("gateway", 1.0, 1.0));
  EXPECT_EQ(gateway.waits, (std::vector<TimeInterval>{1.0}));
  EXPECT_EQ(gateway.data, Data::fromString("up"));

  // "Retry-After: 0" forever: every wait is at least the minimum and the series still ends.
  server.reply("GET", "/zero", status(503, {{"Retry-After", "0"}}));
  const auto zero = fetch(retrying("zero", 0.5, 2.0), 100);
  EXPECT_EQ(std::tuple(zero.calls, zero.code()), std::tuple(1, 503));
  EXPECT_EQ(zero.waits, std::vector<TimeInterval>(13, 0.5));  // 13 x 0.5 s passes 3 x 2 s

  // An HTTP date in the header counts from now.
  DateFormatter httpDate("EEE',' dd MMM yyyy HH':'mm':'ss z");
  httpDate.setLocale("en_US");
  httpDate.setTimeZone("GMT");
  const std::string in30s = httpDate.stringFromDate(time.now().dateByAddingTimeInterval(30));
  server.reply("GET", "/dated", status(503, {{"Retry-After", in30s}}));
  auto dated = retrying("dated");
  result = begin(dated);
  ASSERT_TRUE(time.runUntil([&] { return dated->retryTimer() != nullptr; }));
  EXPECT_NEAR(dated->retryAfterInterval(), 30.0, 1.0);  // the header has whole seconds
  EXPECT_EQ(dated->retryTimer()->timeInterval(), dated->retryAfterInterval());
  dated->stopFetching();
}

TEST_F(SessionFetcherRetryTest, RetryBlockDecidesOnceTheLimitsAllow) {
  server.replies("GET", "/decide", {status(500), {.body = "second"}});
  auto fetcher = retrying("decide");
  std::vector<std::pair<bool, long>> asked;
  fetcher->setRetryBlock([&](bool suggested, std::optional<NSError> error, auto respond) {
    asked.emplace_back(suggested, error ? error->code : 0);
    respond(asked.size() == 1);
  });
  EXPECT_EQ(fetch(fetcher).data, Data::fromString("second"));
  EXPECT_EQ(asked, (std::vector<std::pair<bool, long>>{{false, 500}}));

  // With retry off the block is never asked.
  server.reply("GET", "/never", status(503));
  auto off = fetcherFor("never");
  int calls = 0;
  off->setRetryBlock([&](bool, auto, auto respond) {
    ++calls;
    respond(true);
  });
  EXPECT_TRUE(fetch(off).waits.empty());
  EXPECT_EQ(calls, 0);
}

TEST_F(SessionFetcherRetryTest, OneAuthorizationRefreshAfter401) {
  server.replies("GET", "/auth", {status(401), {.body = "welcome"}});
  auto authorizer = std::make_shared<CountingAuthorizer>();
  auto fetcher = fetcherFor("auth");
  fetcher->setAuthorizer(authorizer);
  const auto result = fetch(fetcher);
  // Retry is off; the refresh retries anyway.
  EXPECT_EQ(std::tuple(result.waits.size(), result.data, authorizer->primes),
            std::tuple(1u, Data::fromString("welcome"), 1));
  EXPECT_EQ(authorizations(server), (std::vector<std::optional<std::string>>{"Bearer t1", "Bearer t2"}));

  // A second 401 is final.
  server.reply("GET", "/denied", status(401));
  auto denied = retrying("denied");
  denied->setAuthorizer(authorizer);
  const auto second = fetch(denied);
  EXPECT_EQ(std::tuple(second.waits.size(), second.code(), server.requestCount(), authorizer->primes),
            std::tuple(1u, 401, 4u, 2));
  EXPECT_EQ(denied->authorizer(), nullptr);  // released with the callbacks
}

TEST_F(SessionFetcherRetryTest, StopWhileBeginningStartsNothing) {
  // The stop lands between choosing the session and making the task, as one from another thread
  // could.
  struct StoppingAuthorizer : CountingAuthorizer {
    bool isAuthorizedRequest(const std::shared_ptr<URLRequest>&) override {
      if (auto f = fetcher.lock()) f->stopFetching();
      return true;
    }
    std::weak_ptr<Fetcher> fetcher;
  };
  server.reply("GET", "/s", {.body = "never"});
  auto authorizer = std::make_shared<StoppingAuthorizer>();
  auto fetcher = fetcherFor("s");
  authorizer->fetcher = fetcher;
  fetcher->setAuthorizer(authorizer);
  auto result = begin(fetcher);
  EXPECT_FALSE(fetcher->isFetching());
  expectReleased(fetcher);
  EXPECT_EQ(std::tuple(result->calls, server.requestCount(), counts()[0]), std::tuple(0, 0u, 0u));
}

TEST_F(SessionFetcherRetryTest, TokenNeverFollowsARedirectToAnotherOrigin) {
  // Neither a retry nor the 401 refresh signs the redirected request for the other server.
  FakeBackend other;
  server.reply("GET", "/moved", {.status = 302, .headers = {{"Location", other.url("there")}}});
  other.replies("GET", "/there", {status(503), status(401), {.body = "never"}});
  auto authorizer = std::make_shared<CountingAuthorizer>();
  auto fetcher = retrying("moved");
  fetcher->setAuthorizer(authorizer);
  const auto result = fetch(fetcher);
  EXPECT_EQ(std::tuple(result.waits.size(), result.code()), std::tuple(1u, 401));
  EXPECT_EQ(authorizations(server), (std::vector<std::optional<std::string>>{"Bearer t1"}));
  EXPECT_EQ(authorizations(other), (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
  EXPECT_EQ(std::tuple(authorizer->primes, authorizer->authorizations), std::tuple(0, 1));
}

TEST_F(SessionFetcherRetryTest, RedirectsNeverDowngradeTheScheme) {
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
  // The request the fetcher follows (nothing: refused), and the fetcher.
  auto redirect = [&](const char* from, const char* to, std::function<void(Fetcher&)> prepare = {}) {
    auto fetcher = Fetcher::fetcherWithURLString(from);
    fetcher->mutableRequest()->setValue("yes", "X-Original");
    if (prepare) prepare(*fetcher);
    auto task = session->dataTaskWithRequest(*fetcher->mutableRequest());
    URLRequest proposed(*URL::URLWithString(to));
    proposed.setValue("added", "X-Proposed");
    std::optional<std::optional<URLRequest>> answer;
    fetcher->willPerformHTTPRedirection(session, task, httpResponse(from, 302), proposed,
                                        [&](std::optional<URLRequest> r) { answer = r; });
    time.runUntilIdle();
    EXPECT_TRUE(answer.has_value());
    return std::make_pair(answer.value_or(std::nullopt), fetcher);
  };

  auto [downRequest, down] = redirect("https://a.test/x", "http://b.test/y?q=1");
  ASSERT_TRUE(downRequest);
  EXPECT_EQ(std::tuple(downRequest->url->absoluteString(), downRequest->valueForHTTPHeaderField("X-Original"),
                       downRequest->valueForHTTPHeaderField("X-Proposed"),
                       down->mutableRequest()->url->absoluteString(), down->response()->url().absoluteString()),
            std::tuple("https://b.test/y?q=1", "yes", "added", "https://b.test/y?q=1", "https://a.test/x"));
  EXPECT_EQ(redirect("http://a.test/x", "HTTPS://b.test/y").first->url->absoluteString(), "https://b.test/y");
  EXPECT_EQ(redirect("http://a.test/x", "http://b.test/y").first->url->absoluteString(), "http://b.test/y");
  EXPECT_FALSE(redirect("https://a.test/x", "https://b.test/", [](Fetcher& f) { f.stopFetching(); }).first);

  // The caller's block picks the request that is followed.
  auto [customRequest, custom] = redirect("https://a.test/x", "https://b.test/y", [](Fetcher& f) {
    f.setWillRedirectBlock([](auto, URLRequest request, auto respond) {
      request.setValue("chosen", "X-Caller");
      respond(request);
    });
  });
  ASSERT_TRUE(customRequest);
  EXPECT_EQ(std::tuple(customRequest->valueForHTTPHeaderField("X-Caller"),
                       custom->mutableRequest()->valueForHTTPHeaderField("X-Caller")),
            std::tuple("chosen", "chosen"));
}

TEST_F(SessionFetcherRetryTest, ChallengeAnswers) {
  using Disposition = URLSessionAuthChallengeDisposition;
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
  auto fetcher = Fetcher::fetcherWithURLString("https://a.test/x");
  auto task = session->dataTaskWithRequest(*fetcher->mutableRequest());
  // The disposition and the credential's user, "trust" for the challenge's own trust, "-" for none.
  using Answer = std::pair<Disposition, std::string>;
  auto answer = [&](const URLAuthenticationChallenge& challenge) {
    Answer result{Disposition::RejectProtectionSpace, "?"};
    fetcher->didReceiveChallenge(session, task, challenge, [&](Disposition d, std::optional<URLCredential> c) {
      result = {d, !c ? "-" : c->user ? *c->user : c->trust == challenge.protectionSpace.serverTrust ? "trust" : "?"};
    });
    return result;
  };
  URLAuthenticationChallenge basic;
  basic.protectionSpace.authenticationMethod = NSURLAuthenticationMethodHTTPBasic;

  EXPECT_EQ(answer(basic).first, Disposition::PerformDefaultHandling);
  fetcher->setCredential(URLCredential::credentialWithUser("user", "pw"));
  fetcher->setProxyCredential(URLCredential::credentialWithUser("proxy", "pw"));
  basic.previousFailureCount = 2;
  EXPECT_EQ(answer(basic), Answer(Disposition::UseCredential, "user"));
  basic.protectionSpace.proxyType = "http";
  EXPECT_EQ(answer(basic), Answer(Disposition::UseCredential, "proxy"));
  basic.previousFailureCount = 3;
  EXPECT_EQ(answer(basic).first, Disposition::CancelAuthenticationChallenge);

  // Server trust: evaluated unless invalid certificates are allowed.
  URLAuthenticationChallenge trust;
  trust.protectionSpace.authenticationMethod = NSURLAuthenticationMethodServerTrust;
  EXPECT_EQ(answer(trust).first, Disposition::PerformDefaultHandling);
  trust.protectionSpace.serverTrust = std::make_shared<SecTrust>("a.test", 443);
  EXPECT_EQ(answer(trust).first, Disposition::UseCredential);
  EXPECT_TRUE(trust.protectionSpace.serverTrust->wasEvaluated());
  fetcher->setAllowInvalidServerCertificates(true);
  trust.protectionSpace.serverTrust = std::make_shared<SecTrust>("a.test", 443);
  EXPECT_EQ(answer(trust), Answer(Disposition::UseCredential, "trust"));
  EXPECT_FALSE(trust.protectionSpace.serverTrust->wasEvaluated());
}

}  // namespace
