#include "toolkit/session_fetcher_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/virtual_time.h"
#include "toolkit/session_cookie_storage.h"

using Fetcher = ZSDK_ZTKSessionFetcher;
using Service = ZSDK_ZTKSessionFetcherService;

namespace {

// A fetch to make through the service: its URL, priority, and whether it runs in the background.
struct Spec {
  const char* url;
  std::int64_t priority = 0;
  bool background = false;
};

struct AdmissionCase {
  const char* name;
  std::size_t limit;
  std::vector<Spec> fetchers;
  std::size_t startedAtFirst;
  std::optional<std::size_t> limitBeforeStops;
  std::vector<std::size_t> stops;  // indices into `fetchers`
  bool stopAll;
  std::vector<std::size_t> startOrder;
  std::size_t delayedAtEnd;
};

std::vector<std::size_t> upTo(std::size_t n) {
  std::vector<std::size_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = i;
  return v;
}

const Spec kA{"http://a.example/x"};
const Spec kB{"http://b.example/x"};

// Fetchers that never finish on their own: the test block keeps every answer.
class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() {
    service->allowedInsecureSchemes = {"http", "file"};
    service->testBlock = [this](const std::shared_ptr<Fetcher>& fetcher, Fetcher::TestResponse response) {
      started.push_back(fetcher);
      answers.push_back(std::move(response));
    };
  }
  ~ServiceTest() override {
    service->stopAllFetchers();
    for (const auto& fetcher : started) fetcher->stopFetching();  // the untracked ones too
    answers.clear();
    // A stopped fetcher is let go of once its session has ended.
    std::vector<std::weak_ptr<Fetcher>> weak(started.begin(), started.end());
    started.clear();
    time.runUntil([&] { return std::all_of(weak.begin(), weak.end(), [](const auto& w) { return w.expired(); }); }, 10);
  }
  std::shared_ptr<Fetcher> begin(const Spec& spec) {
    auto fetcher = service->fetcherWithURLString(spec.url);
    fetcher->setServicePriority(spec.priority);
    fetcher->setUseBackgroundSession(spec.background);
    fetcher->beginFetchWithCompletionHandler([this](auto, auto) { ++completions; });
    return fetcher;
  }

  VirtualTime time;
  std::shared_ptr<Service> service = Service::create();
  std::vector<std::shared_ptr<Fetcher>> started;
  std::vector<Fetcher::TestResponse> answers;
  int completions = 0;
};

}  // namespace

// A fetcher carries the host it is counted under while the service holds it, running or waiting,
// and loses it when it stops; a host-less file URL counts as localhost, a URL-less one nowhere.
TEST_F(ServiceTest, ServiceHostFollowsAdmission) {
  service->maxRunningFetchersPerHost = 1;
  const auto running = begin(kA);
  const auto waiting = begin(kA);
  const auto file = begin({"file:///tmp/a"});
  const auto nowhere = begin({"not a url"});
  EXPECT_EQ(running->serviceHost(), "a.example");
  EXPECT_EQ(waiting->serviceHost(), "a.example");
  EXPECT_EQ(file->serviceHost(), "localhost");
  EXPECT_FALSE(nowhere->serviceHost());
  EXPECT_TRUE(service->isDelayingFetcher(waiting));
  EXPECT_FALSE(service->isDelayingFetcher(nowhere));
  running->stopFetching();
  EXPECT_FALSE(running->serviceHost());
  // Promoted: still counted under its host, as the running one now.
  EXPECT_EQ(waiting->serviceHost(), "a.example");
  EXPECT_FALSE(service->isDelayingFetcher(waiting));
  EXPECT_EQ(service->runningFetchersByHost().at("a.example"), Service::FetcherList{waiting});
  waiting->stopFetching();
  file->stopFetching();
  EXPECT_FALSE(waiting->serviceHost());
  EXPECT_FALSE(file->serviceHost());
  EXPECT_EQ(service->numberOfFetchers(), 0U);
}

// A waiting fetcher begun again refuses the newcomer as a running one does, whether or not other
// fetchers of the service run or wait, and starts for its first caller when promoted.
TEST_F(ServiceTest, WaitingFetcherRefusesASecondBegin) {
  service->maxRunningFetchersPerHost = 1;
  const auto running = begin(kA);
  const auto waiting = begin(kA);
  const auto other = begin(kB);
  int refusals = 0;
  const auto refuse = [&] {
    waiting->beginFetchWithCompletionHandler([&](auto data, std::optional<NSError> error) {
      EXPECT_FALSE(data);
      EXPECT_EQ(error ? error->code : 0, ZTKSessionFetcherErrorBeginFailed);
      ++refusals;
    });
  };
  refuse();
  time.runUntil([&] { return refusals == 1; }, 1);
  EXPECT_EQ(refusals, 1);
  EXPECT_TRUE(service->isDelayingFetcher(waiting));
  other->stopFetching();
  refuse();
  time.runUntil([&] { return refusals == 2; }, 1);
  EXPECT_EQ(refusals, 2);
  running->stopFetching();
  ASSERT_EQ(started.size(), 3U);
  EXPECT_EQ(started.back(), waiting);
  answers.back()(nullptr, Data::fromString("ok"), std::nullopt);
  time.runUntil([&] { return completions == 1; }, 1);
  EXPECT_EQ(completions, 1);
  // A fetcher put in the waiting lists from outside waits as well, until taken out again.
  const auto placed = service->fetcherWithURLString(kA.url);
  service->setDelayedFetchersByHost({{"a.example", {placed}}});
  EXPECT_TRUE(service->isDelayingFetcher(placed));
  EXPECT_TRUE(placed->isFetching());
  service->setDelayedFetchersByHost({});
  EXPECT_FALSE(service->isDelayingFetcher(placed));
  EXPECT_FALSE(placed->isFetching());
}

TEST_F(ServiceTest, AdmissionPerHost) {
  const AdmissionCase cases[] = {
      {"eleventh waits", 10, std::vector<Spec>(11, kA), 10, {}, {3}, false, upTo(11), 0},
      {"no limit", 0, std::vector<Spec>(12, kA), 12, {}, {}, false, upTo(12), 0},
      {"lowest priority first, ties in order",
       1,
       {kA, {kA.url, 5}, {kA.url, -1}, {kA.url, -1}},
       1,
       {},
       {0, 2, 3},
       false,
       {0, 2, 3, 1},
       0},
      {"hosts independent", 1, {kA, kB, kA}, 2, {}, {}, false, {0, 1}, 1},
      {"background neither waits nor counts",
       1,
       {{kA.url, 0, true}, kA, {kA.url, 0, true}, kA},
       3,
       {},
       {},
       false,
       {0, 1, 2},
       1},
      {"host-less file URL counts as localhost",
       1,
       {{"file:///tmp/a"}, {"file:///tmp/b"}},
       1,
       {},
       {0},
       false,
       {0, 1},
       0},
      {"raising the limit waits for the next stop", 1, std::vector<Spec>(4, kA), 1, 3, {0}, false, {0, 1, 2, 3}, 0},
      {"lowering to no limit releases all at the next stop",
       1,
       std::vector<Spec>(4, kA),
       1,
       0,
       {0},
       false,
       {0, 1, 2, 3},
       0},
      {"stopAll starts no waiter", 1, std::vector<Spec>(3, kA), 1, {}, {}, true, {0}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service->stopAllFetchers();
    started.clear();
    service->maxRunningFetchersPerHost = c.limit;
    std::vector<std::shared_ptr<Fetcher>> fetchers;
    for (const auto& spec : c.fetchers) fetchers.push_back(begin(spec));
    EXPECT_EQ(started.size(), c.startedAtFirst);
    // Running ones hold the shared session (background ones have their own); a waiting one lets
    // go of it until it starts.
    for (std::size_t i = 0; i < c.startedAtFirst; ++i) {
      if (!c.fetchers[i].background) {
        EXPECT_EQ(fetchers[i]->session(), service->session()) << i;
      }
    }
    if (c.startedAtFirst < fetchers.size()) {
      EXPECT_TRUE(service->isDelayingFetcher(fetchers.back()));
      EXPECT_TRUE(fetchers.back()->isFetching());
      EXPECT_FALSE(fetchers.back()->session());
    }
    if (c.limitBeforeStops) {
      service->maxRunningFetchersPerHost = *c.limitBeforeStops;
      EXPECT_EQ(started.size(), c.startedAtFirst);
    }
    for (const std::size_t i : c.stops) fetchers[i]->stopFetching();
    if (c.stopAll) service->stopAllFetchers();
    std::vector<std::size_t> order;
    for (const auto& f : started) order.push_back(std::find(fetchers.begin(), fetchers.end(), f) - fetchers.begin());
    EXPECT_EQ(order, c.startOrder);
    EXPECT_EQ(service->numberOfDelayedFetchers(), c.delayedAtEnd);
    // A host with nobody left running or waiting has no entry.
    for (const auto& byHost : {service->runningFetchersByHost(), service->delayedFetchersByHost()})
      for (const auto& [host, list] : byHost) EXPECT_FALSE(list.empty()) << host;
    if (c.delayedAtEnd == 0) {
      EXPECT_FALSE(service->isDelayingFetcher(fetchers.back()));
    }
    if (c.stopAll) {
      EXPECT_EQ(service->numberOfFetchers(), 0U);
    }
  }
}

// One fetch at a time, host after host: each running entry is listed under its own host only.
TEST_F(ServiceTest, RunningEntriesFollowTheirHost) {
  for (const Spec& spec : {kA, kB, kB, kA}) {
    auto fetcher = begin(spec);
    const auto running = service->runningFetchersByHost();
    ASSERT_EQ(running.size(), 1U);
    EXPECT_EQ(running.begin()->first, URL::URLWithString(spec.url)->host());
    EXPECT_EQ(running.begin()->second, Service::FetcherList{fetcher});
    fetcher->stopFetching();
    EXPECT_TRUE(service->runningFetchersByHost().empty());
  }
}

// Each fetcher gets the schemes the service has when the fetcher is made, and keeps them.
TEST_F(ServiceTest, InsecureSchemesAsOfEachFetcher) {
  using Schemes = std::vector<std::string>;
  auto first = service->fetcherWithURLString(kA.url);
  service->allowedInsecureSchemes = {"http"};
  auto second = service->fetcherWithURLString(kA.url);
  auto third = service->fetcherWithURLString(kA.url);
  third->setAllowedInsecureSchemes({"ftp"});
  service->allowedInsecureSchemes.clear();
  auto fourth = service->fetcherWithURLString(kA.url);
  EXPECT_EQ(first->allowedInsecureSchemes(), (Schemes{"http", "file"}));
  EXPECT_EQ(second->allowedInsecureSchemes(), Schemes{"http"});
  EXPECT_EQ(third->allowedInsecureSchemes(), Schemes{"ftp"});
  EXPECT_TRUE(fourth->allowedInsecureSchemes().empty());
  // What a fetcher holds decides its begin: the last one may not fetch over http.
  std::optional<NSError> refusal;
  fourth->beginFetchWithCompletionHandler([&](auto, std::optional<NSError> error) { refusal = error; });
  time.runUntil([&] { return refusal.has_value(); }, 1);
  EXPECT_EQ(refusal ? refusal->code : 0, ZTKSessionFetcherErrorInsecureRequest);
  refusal.reset();
  third->beginFetchWithCompletionHandler([&](auto, std::optional<NSError> error) { refusal = error; });
  time.runUntil([&] { return refusal.has_value(); }, 1);
  EXPECT_EQ(refusal ? refusal->code : 0, ZTKSessionFetcherErrorInsecureRequest);
  second->beginFetchWithCompletionHandler([](auto, auto) {});
  EXPECT_EQ(started, std::vector<std::shared_ptr<Fetcher>>{second});
}

TEST_F(ServiceTest, UntrackedAndIdleAnswers) {
  EXPECT_FALSE(service->issuedFetchers());
  EXPECT_TRUE(service->waitForCompletionOfAllFetchersWithTimeout(5));
  service->allowedInsecureSchemes.push_back("data");
  begin({"data:,hello"});
  EXPECT_EQ(started.size(), 1U);
  EXPECT_EQ(service->numberOfFetchers(), 0U);
  auto running = begin(kA);
  EXPECT_TRUE(service->fetcherShouldBeginFetching(running));  // asked twice, listed once
  EXPECT_EQ(service->issuedFetchers()->size(), 1U);
  EXPECT_EQ(service->issuedFetchersWithRequestURL(*URL::URLWithString(kA.url))->size(), 1U);
  EXPECT_FALSE(service->waitForCompletionOfAllFetchersWithTimeout(0.02));
}

TEST_F(ServiceTest, MockServiceFakesEveryAnswer) {
  for (const bool withError : {false, true}) {
    auto mock = Service::mockFetcherServiceWithFakedData(
        Data::fromString("faked"), withError ? std::optional(NSError("test.domain", 7)) : std::nullopt);
    auto fetcher = mock->fetcherWithURLString("http://example.test/");
    fetcher->mutableRequest()->setValue("caller/1", "User-Agent");
    mock->userAgent = "service/2";
    std::optional<NSError> error;
    bool done = false;
    fetcher->beginFetchWithCompletionHandler([&](auto, std::optional<NSError> e) {
      error = e;
      done = true;
    });
    ASSERT_TRUE(time.runUntil([&] { return done; }));
    EXPECT_EQ(fetcher->statusCode(), withError ? 500 : 200);
    EXPECT_EQ(error.has_value(), withError);
    EXPECT_EQ(
        mock->fetcherWithURLString("http://example.test/")->mutableRequest()->valueForHTTPHeaderField("User-Agent"),
        "service/2");
  }
}

// A promoted fetcher is started after the service's lock is released: an authorizer that signs it
// waits for another thread that itself asks the service for a fetcher.
TEST_F(ServiceTest, PromotionStartsOutsideTheLock) {
  struct Authorizer : ZTKFetcherAuthorizationProtocol {
    std::shared_ptr<Service> service;
    void authorizeRequest(std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
                          DidFinishSelector done) override {
      std::thread([this] { service->fetcherWithURLString("http://a.example/refresh"); }).join();
      done(nullptr, request, std::nullopt);
      (void)delegate;
    }
    void stopAuthorization() override {}
    void stopAuthorizationForRequest(const std::shared_ptr<URLRequest>&) override {}
    bool isAuthorizingRequest(const std::shared_ptr<URLRequest>&) override { return false; }
    bool isAuthorizedRequest(const std::shared_ptr<URLRequest>&) override { return false; }
    std::optional<std::string> userEmail() override { return std::nullopt; }
  };
  service->maxRunningFetchersPerHost = 1;
  auto first = begin(kA);
  auto authorizer = std::make_shared<Authorizer>();
  authorizer->service = service;
  service->setAuthorizer(authorizer);
  auto second = begin(kA);
  first->stopFetching();
  EXPECT_TRUE(time.runUntil([&] { return started.size() == 2; }));
  service->setAuthorizer(nullptr);
}

// Every setting reaches the fetcher as the fetcher's own setters would leave it, the random draws
// of the retry minimum included.
TEST_F(ServiceTest, SettingsReachEveryFetcherItMakes) {
  std::uint32_t draws = 0;
  Fetcher::setRetryRandomSource([&] { return draws++; });
  auto cookies = std::make_shared<ZSDK_ZTKSessionCookieStorage>();
  auto queue = DispatchQueue::make("service callbacks");
  service->credential = URLCredential::credentialWithUser("user", "secret");
  service->proxyCredential = URLCredential::credentialWithUser("proxy", "secret");
  service->cookieStorage = cookies;
  service->allowLocalhostRequest = true;
  service->allowInvalidServerCertificates = true;
  service->retryEnabled = true;
  service->retryBlock = [](bool, std::optional<NSError>, Fetcher::RetryResponse) {};
  service->maxRetryInterval = -5;
  service->properties = Fetcher::Properties{{"key", std::string("value")}};
  service->userAgent = "service/2";
  service->configurationBlock = [](const std::shared_ptr<Fetcher>&, URLSessionConfiguration&) {};
  service->setCallbackQueue(queue);

  auto fetcher = service->fetcherWithURLString("http://a.example/x");
  // One draw as the fetcher is made, one as retry is turned on, one for the unset minimum.
  EXPECT_EQ(draws, 3U);
  EXPECT_DOUBLE_EQ(fetcher->minRetryInterval(), 1.0 + 2.0 / 65535.0);
  EXPECT_EQ(std::tuple(fetcher->isRetryEnabled(), fetcher->maxRetryInterval(), fetcher->retryFactor()),
            std::tuple(true, -1.0, 2.0));
  EXPECT_EQ(fetcher->credential()->user, "user");
  EXPECT_EQ(fetcher->proxyCredential()->user, "proxy");
  EXPECT_EQ(fetcher->cookieStorage(), cookies);
  EXPECT_EQ(fetcher->allowedInsecureSchemes(), (std::vector<std::string>{"http", "file"}));
  EXPECT_TRUE(fetcher->allowLocalhostRequest() && fetcher->allowInvalidServerCertificates());
  EXPECT_TRUE(fetcher->retryBlock() && fetcher->configurationBlock() && fetcher->testBlock());
  EXPECT_EQ(std::any_cast<std::string>(fetcher->propertyForKey("key")), "value");
  EXPECT_EQ(fetcher->callbackQueue(), queue);
  EXPECT_EQ(fetcher->service(), service);
  EXPECT_EQ(fetcher->mutableRequest()->valueForHTTPHeaderField("User-Agent"), "service/2");

  // A request's own agent stays; a set minimum is taken as it is.
  service->minRetryInterval = 0.5;
  URLRequest own(*URL::URLWithString("http://a.example/y"));
  own.setValue("caller/1", "User-Agent");
  auto second = service->fetcherWithRequest(own);
  EXPECT_EQ(second->mutableRequest()->valueForHTTPHeaderField("User-Agent"), "caller/1");
  EXPECT_EQ(second->minRetryInterval(), 0.5);

  // Without a queue of its own the service leaves the fetcher's; the cookie method overrides the
  // storage, except 1 (unchanged) and unset (-1).
  service->setCallbackQueue(nullptr);
  EXPECT_EQ(service->fetcherWithURLString("http://a.example/z")->callbackQueue(), DispatchQueue::main());
  const std::vector<std::pair<long, std::shared_ptr<HTTPCookieStorage>>> methods = {
      {-1, cookies}, {1, cookies}, {2, HTTPCookieStorage::sharedHTTPCookieStorage()}, {0, nullptr}, {7, nullptr}};
  for (const auto& [method, expected] : methods) {
    service->setCookieStorageMethod(method);
    EXPECT_EQ(service->fetcherWithURLString("http://a.example/z")->cookieStorage(), expected) << method;
  }
  service->setCookieStorageMethod(3);
  const auto privateStorage = service->fetcherWithURLString("http://a.example/z")->cookieStorage();
  EXPECT_TRUE(privateStorage && privateStorage != cookies &&
              privateStorage != service->fetcherWithURLString("http://a.example/z")->cookieStorage());
  Fetcher::setRetryRandomSource(nullptr);
}
