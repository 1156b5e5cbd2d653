#include "toolkit/oauth2_authentication.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"
#include "toolkit/oauth2_sign_in.h"
#include "toolkit/session_fetcher_service.h"

using Auth = ZSDK_ZTKOAuth2Authentication;
using Service = ZSDK_ZTKSessionFetcherService;

namespace {

const char* const kFreshToken = R"({"access_token":"fresh","expires_in":3600,"token_type":"Bearer"})";

ScriptedReply json(std::string body, int status = 200) { return {status, {}, std::move(body), "application/json"}; }

// A loopback provider whose every answer is gzip that never ends: 2 GiB of zeros once unpacked,
// made as it is sent. Each connection is served on its own thread until the client closes it.
class GzipFlood {
 public:
  GzipFlood() {
    acceptor_ = std::thread([this] { acceptConnections(); });
  }
  ~GzipFlood() {
    stopping_ = true;
    acceptor_.join();
    for (auto& thread : served_) thread.join();
  }
  std::string url(const std::string& path) const { return listener_.url(path); }
  // Connections that the client closed while the answer went on.
  int closedByClient() const { return closed_.load(); }

 private:
  void acceptConnections() {
    while (!stopping_) {
      pollfd listening{listener_.fd(), POLLIN, 0};
      if (::poll(&listening, 1, 20) <= 0) continue;
      const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) served_.emplace_back([this, fd] { flood(fd); });
    }
  }
  void flood(int fd) {
    const timeval patience{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return (void)::close(fd);
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nConnection: close\r\n\r\n";
    bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
    z_stream zip{};
    deflateInit2(&zip, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::vector<unsigned char> zeros(1 << 20, 0);
    std::vector<unsigned char> packed(64 << 10);
    for (int mebibyte = 0; open && !stopping_ && mebibyte < 2048; ++mebibyte) {
      zip.next_in = const_cast<unsigned char*>(zeros.data());
      zip.avail_in = static_cast<uInt>(zeros.size());
      while (open && zip.avail_in > 0) {
        zip.next_out = packed.data();
        zip.avail_out = static_cast<uInt>(packed.size());
        deflate(&zip, Z_SYNC_FLUSH);
        const std::size_t size = packed.size() - zip.avail_out;
        open = ::send(fd, packed.data(), size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
      }
    }
    deflateEnd(&zip);
    // A client that stops reading without closing leaves the send to time out instead.
    if (!open && (errno == EPIPE || errno == ECONNRESET)) ++closed_;
    ::close(fd);
  }

  LoopbackListener listener_{16};
  std::atomic<bool> stopping_{false};
  std::atomic<int> closed_{0};
  std::vector<std::thread> served_;  // acceptor thread only, until it is joined
  std::thread acceptor_;
};

// What one authorization request was answered with.
struct Signed {
  int calls = 0;
  std::optional<NSError> error;
  std::shared_ptr<URLRequest> request;
  std::optional<std::string> header() const { return request->valueForHTTPHeaderField("Authorization"); }
};

// An authorization whose token endpoint is a loopback server, and the notifications it posts.
class OAuth2Test : public ::testing::Test {
 protected:
  OAuth2Test() {
    service->allowLocalhostRequest = true;
    service->allowedInsecureSchemes = {"http"};
    auth->setFetcherService(service);
    auth->setTokenURL(URL::URLWithString(server.url("/token")));
    auth->setClientID("client-7");
    for (const char* name : {kZTKOAuth2FetchStarted, kZTKOAuth2FetchStopped, kZTKOAuth2AccessTokenRefreshed,
                             kZTKOAuth2AccessTokenRefreshFailed, kZTKOAuth2RefreshTokenChanged}) {
      observers.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, auth, nullptr, [this](const Notification& note) { posted.push_back(note); }));
    }
  }
  ~OAuth2Test() override {
    for (auto token : observers) NotificationCenter::defaultCenter()->removeObserver(token);
    auth->stopAuthorization();
    time.runUntilIdle();
  }

  std::shared_ptr<Signed> authorize(const std::string& url = "https://api.example/items") {
    auto result = std::make_shared<Signed>();
    result->request = std::make_shared<URLRequest>(*URL::URLWithString(url));
    auth->authorizeRequest(result->request, [result](const std::optional<NSError>& error) {
      ++result->calls;
      result->error = error;
    });
    return result;
  }
  std::vector<std::string> postedNames() const {
    std::vector<std::string> names;
    for (const auto& note : posted) names.push_back(note.name);
    return names;
  }
  Auth::Form tokenForm(std::size_t index = 0) const {
    return *Auth::dictionaryWithResponseString(server.requests().at(index).body);
  }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<Service> service = Service::create();
  std::shared_ptr<Auth> auth = Auth::create();
  std::vector<Notification> posted;
  std::vector<NotificationCenter::ObserverToken> observers;
};

}  // namespace

TEST(OAuth2RefreshRule, RefreshesWhenRefreshableAndTheTokenIsMissingUnknownOrNearItsEnd) {
  const Date now{1000};
  const struct {
    const char* name;
    bool refreshable, hasToken;
    std::optional<TimeInterval> left;
    bool refresh;
  } cases[] = {
      {"59 s left", true, true, 59, true},         {"exactly 60 s left", true, true, 60, false},
      {"61 s left", true, true, 61, false},        {"no expiry", true, true, std::nullopt, true},
      {"no token", true, false, 3600, true},       {"nothing refreshable, expired", false, true, -10, false},
      {"nothing at all", false, false, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto expiry = c.left ? std::optional<Date>(now.dateByAddingTimeInterval(*c.left)) : std::nullopt;
    EXPECT_EQ(ztk_fetcher_detail::accessTokenNeedsRefresh(c.refreshable, c.hasToken, expiry, now), c.refresh);
  }
}

TEST_F(OAuth2Test, SigningWithoutRefresh) {
  const struct {
    const char* name;
    const char* url;
    std::optional<std::string> token;
    bool all;
    long code;
  } cases[] = {
      {"https", "https://api.example/a", "tok", false, 0},
      {"file", "file:///tmp/a", "tok", false, 0},
      {"http refused", "http://api.example/a", "tok", false, ZTKOAuth2ErrorUnauthorizableRequest},
      {"http allowed", "http://api.example/a", "tok", true, 0},
      {"no token", "https://api.example/a", std::nullopt, false, ZTKOAuth2ErrorAuthorizationFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auth->setAccessToken(c.token);
    // Expired, but nothing to refresh it with: it is sent as it is.
    auth->setExpirationDate(time.now().dateByAddingTimeInterval(-5));
    auth->setShouldAuthorizeAllRequests(c.all);
    const auto result = authorize(c.url);
    ASSERT_EQ(result->calls, 1);  // on this thread, at once
    EXPECT_EQ(result->error ? result->error->code : 0, c.code);
    if (c.code) {
      EXPECT_EQ(result->error->domain, kZTKOAuth2ErrorDomain);
      EXPECT_EQ(result->error->userInfo.at("request"), Value(c.url));
      EXPECT_FALSE(result->header());
    } else {
      EXPECT_EQ(result->header(), "Bearer tok");
    }
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(OAuth2Test, TokenWithMoreThanAMinuteLeftIsUsedAndOneWithLessWaitsForTheRefresh) {
  server.reply("POST", "/token", json(kFreshToken));
  auth->setRefreshToken("rt-1");
  auth->setAccessToken("old");
  auth->setExpirationDate(time.now().dateByAddingTimeInterval(61));
  EXPECT_EQ(authorize()->header(), "Bearer old");

  time.advance(2);
  const auto waiting = authorize();
  EXPECT_EQ(waiting->calls, 0);
  EXPECT_TRUE(auth->isAuthorizingRequest(waiting->request));
  ASSERT_TRUE(time.runUntil([&] { return waiting->calls > 0; }));
  EXPECT_FALSE(waiting->error);
  EXPECT_EQ(waiting->header(), "Bearer fresh");
  EXPECT_EQ(auth->expirationDate(), time.now().dateByAddingTimeInterval(3600));
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(postedNames(),
            (std::vector<std::string>{kZTKOAuth2FetchStarted, kZTKOAuth2FetchStopped, kZTKOAuth2AccessTokenRefreshed}));
  EXPECT_EQ(posted[0].userInfo.at("FetchType"), Value("refresh"));
}

TEST_F(OAuth2Test, RequestsArrivingDuringOneRefreshShareItAndAreSignedInOrder) {
  server.reply("POST", "/token", json(kFreshToken));
  auth->setRefreshToken("rt-1");
  auth->setAccessToken("no-expiry");
  std::vector<int> order;
  std::vector<std::shared_ptr<URLRequest>> requests;
  for (int i = 0; i < 3; ++i) {
    requests.push_back(std::make_shared<URLRequest>(*URL::URLWithString("https://api.example/x")));
    auth->authorizeRequest(requests.back(), [&order, i](const auto&) { order.push_back(i); });
  }
  ASSERT_TRUE(time.runUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  for (const auto& request : requests) EXPECT_EQ(request->valueForHTTPHeaderField("Authorization"), "Bearer fresh");
  ASSERT_EQ(server.requestCount(), 1u);
  // A public client: no secret, not even an empty one.
  EXPECT_EQ(tokenForm(),
            (Auth::Form{{"client_id", "client-7"}, {"grant_type", "refresh_token"}, {"refresh_token", "rt-1"}}));
  const auto request = *server.lastRequest();
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.header("Authorization"), std::nullopt);
}

TEST_F(OAuth2Test, TokenRequestFormsPerGrant) {
  server.reply("POST", "/token", json(kFreshToken));
  const struct {
    const char* name;
    bool isCode;
    const char* secret;
    Auth::Form expected;
  } cases[] = {
      {"code, exact redirect URI, verifier through the hook",
       true,
       "",
       {{"client_id", "client-7"},
        {"code", "c-1"},
        {"code_verifier", "v-1"},
        {"grant_type", "authorization_code"},
        {"redirect_uri", "http://127.0.0.1:4711/cb"},
        {"scope", "email"}}},
      {"assertion, with a secret",
       false,
       "s3",
       {{"assertion", "c-1"},
        {"client_id", "client-7"},
        {"client_secret", "s3"},
        {"code_verifier", "per-grant"},
        {"grant_type", kZTKOAuth2JWTBearerGrantType}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRequests();
    auto other = Auth::authenticationWithServiceProvider("P", auth->tokenURL(), "http://127.0.0.1:4711/cb", "client-7",
                                                         c.secret);
    other->setFetcherService(service);
    other->setScope("email");
    if (c.isCode) {
      other->setCode("c-1");
    } else {
      other->setAssertion("c-1");
    }
    other->setAdditionalTokenRequestParameters(Auth::Form{{"code_verifier", "v-1"}});
    other->setAdditionalGrantTypeRequestParameters(
        Auth::GrantTypeParameters{{kZTKOAuth2JWTBearerGrantType, {{"code_verifier", "per-grant"}}}});
    bool done = false;
    ASSERT_TRUE(other->beginTokenFetchWithDelegate(other, [&](const auto&, const auto&, const auto&) { done = true; }));
    ASSERT_TRUE(time.runUntil([&] { return done; }));
    EXPECT_EQ(tokenForm(), c.expected);
    EXPECT_EQ(other->accessToken(), "fresh");
  }
  EXPECT_FALSE(Auth::create()->beginTokenFetchWithDelegate(nullptr, nullptr));
}

TEST_F(OAuth2Test, RotatedRefreshTokenIsAnnouncedAndARepeatedOneIsNot) {
  server.replies("POST", "/token",
                 {json(R"({"access_token":"a1","refresh_token":"rt-1","expires_in":"3600"})"),
                  json(R"({"access_token":"a2","refresh_token":"rt-2","expires_in":3600})")});
  auth->setRefreshToken("rt-1");
  for (const char* expected : {"a1", "a2"}) {
    auth->setAccessToken(std::nullopt);
    const auto result = authorize();
    ASSERT_TRUE(time.runUntil([&] { return result->calls > 0; }));
    EXPECT_EQ(result->header(), std::string("Bearer ") + expected);
  }
  EXPECT_EQ(auth->refreshToken(), "rt-2");
  EXPECT_EQ(auth->expiresIn(), 3600);
  const auto names = postedNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), kZTKOAuth2RefreshTokenChanged), 1);
}

TEST_F(OAuth2Test, RevokedGrantFailsTheWaitingRequestOnceWithTheProvidersText) {
  server.reply("POST", "/token",
               json(R"({"error":"invalid_grant","error_description":"Token has been revoked."})", 400));
  server.reply("GET", "/items", {401});
  auth->setRefreshToken("rt-dead");
  auth->setAccessToken("still-good");
  auth->setExpirationDate(time.now().dateByAddingTimeInterval(3600));
  auth->setShouldAuthorizeAllRequests(true);
  service->setAuthorizer(auth);
  auto fetcher = service->fetcherWithURLString(server.url("/items"));
  std::optional<NSError> error;
  int calls = 0;
  fetcher->beginFetchWithCompletionHandler([&](auto, std::optional<NSError> e) {
    ++calls;
    error = std::move(e);
  });
  // The 401 drops the access token, the retry waits for the one refresh, which is refused, and
  // the fetch ends there.
  for (int turn = 0; turn < 5 && calls == 0; ++turn) {
    ASSERT_TRUE(time.runUntil([&] { return calls > 0 || fetcher->retryTimer(); }));
    if (auto timer = fetcher->retryTimer()) time.advance(timer->timeInterval());
  }
  time.runUntilIdle();
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "com.zedodo.HTTPStatus");
  EXPECT_EQ(error->code, 400);
  EXPECT_EQ(*error->userInfo.at("json").find("error"), Value("invalid_grant"));
  EXPECT_EQ(server.requestCount(), 2u);
  const auto failed = std::find_if(posted.begin(), posted.end(),
                                   [](const auto& note) { return note.name == kZTKOAuth2AccessTokenRefreshFailed; });
  ASSERT_NE(failed, posted.end());
  EXPECT_EQ(failed->userInfo.at("error"), Value("invalid_grant"));
  EXPECT_EQ(auth->refreshToken(), "rt-dead");  // an error answer is never merged
  service->setAuthorizer(nullptr);
  fetcher.reset();
}

TEST_F(OAuth2Test, TokenAndUserInfoAnswersAreCappedAtOneMebibyteAfterDecoding) {
  // Sent compressed: a few kilobytes on the wire, 2 MiB once decoded.
  const std::string huge = R"({"access_token":")" + std::string(2 << 20, 'a') + R"(","expires_in":3600})";
  const std::string large = R"({"access_token":")" + std::string(900 << 10, 'b') + R"(","expires_in":3600})";
  server.replies("POST", "/token",
                 {{.body = huge, .contentType = "application/json", .deflate = true},
                  {.body = large, .contentType = "application/json", .deflate = true}});
  auth->setRefreshToken("rt-1");
  const auto refused = authorize();
  ASSERT_TRUE(time.runUntil([&] { return refused->calls > 0; }));
  ASSERT_TRUE(refused->error);
  EXPECT_EQ(refused->error->domain, NSURLErrorDomain);
  EXPECT_EQ(refused->error->code, NSURLErrorDataLengthExceedsMaximum);
  EXPECT_FALSE(auth->accessToken());
  EXPECT_EQ(server.requestCount(), 1u);  // not retried

  const auto accepted = authorize();
  ASSERT_TRUE(time.runUntil([&] { return accepted->calls > 0; }));
  EXPECT_FALSE(accepted->error);
  EXPECT_EQ(auth->accessToken().value_or("").size(), 900u << 10);

  server.reply("GET", "/userinfo", {.body = huge, .contentType = "application/json", .deflate = true});
  auth->setShouldAuthorizeAllRequests(true);  // plain http on loopback
  auth->setAccessToken("short");               // the large one would not fit in a header
  auth->setExpirationDate(time.now().dateByAddingTimeInterval(3600));
  struct SignIn : ZSDK_ZTKOAuth2SignIn {
    using ZSDK_ZTKOAuth2SignIn::userInfoFetcherForURL;
  };
  auto userInfo = SignIn::userInfoFetcherForURL(auth, *URL::URLWithString(server.url("/userinfo")));
  std::optional<NSError> error;
  bool done = false;
  userInfo->beginFetchWithCompletionHandler([&](auto, std::optional<NSError> e) {
    done = true;
    error = std::move(e);
  });
  ASSERT_TRUE(time.runUntil([&] { return done; }));
  EXPECT_EQ(error ? error->code : 0, NSURLErrorDataLengthExceedsMaximum) << (error ? error->description() : "");
  userInfo.reset();

  // Other fetches of the same service keep no such limit.
  server.reply("GET", "/big", {.body = huge, .deflate = true});
  auto other = service->fetcherWithURLString(server.url("/big"));
  std::optional<Data> body;
  done = false;
  other->beginFetchWithCompletionHandler([&](std::optional<Data> data, std::optional<NSError> e) {
    done = true;
    body = std::move(data);
    error = std::move(e);
  });
  ASSERT_TRUE(time.runUntil([&] { return done; }));
  EXPECT_FALSE(error);
  EXPECT_EQ(body ? body->size() : 0, huge.size());
  other.reset();
}

// The cap stops the transfer itself: an answer that never ends unpacking fails at once, and the
// revocation, whose answer nobody reads, lets go of its connection too.
TEST_F(OAuth2Test, AnswersThatUnpackWithoutEndStopAtTheCapWithTheirConnectionClosed) {
  GzipFlood flood;
  using Steady = std::chrono::steady_clock;
  const auto secondsSince = [](Steady::time_point start) {
    return std::chrono::duration<double>(Steady::now() - start).count();
  };
  auth->setTokenURL(URL::URLWithString(flood.url("token")));
  auth->setRefreshToken("rt-1");
  auto start = Steady::now();
  const auto refused = authorize();
  ASSERT_TRUE(time.runUntil([&] { return refused->calls > 0; }, 30));
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_EQ(refused->error ? refused->error->code : 0, NSURLErrorDataLengthExceedsMaximum);

  struct SignIn : ZSDK_ZTKOAuth2SignIn {
    using ZSDK_ZTKOAuth2SignIn::revokeTokenAtURL;
    using ZSDK_ZTKOAuth2SignIn::userInfoFetcherForURL;
  };
  auth->setShouldAuthorizeAllRequests(true);  // plain http on loopback
  auth->setAccessToken("short");
  auth->setExpirationDate(time.now().dateByAddingTimeInterval(3600));
  auto userInfo = SignIn::userInfoFetcherForURL(auth, *URL::URLWithString(flood.url("userinfo")));
  std::optional<long> code;
  start = Steady::now();
  userInfo->beginFetchWithCompletionHandler([&](auto, std::optional<NSError> e) { code = e ? e->code : 0; });
  ASSERT_TRUE(time.runUntil([&] { return code.has_value(); }, 30));
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_EQ(*code, NSURLErrorDataLengthExceedsMaximum);
  userInfo.reset();

  auto zedodo = ZSDK_ZTKOAuth2SignIn::standardZedodoAuthenticationForScope("openid", "client-7", "");
  zedodo->setFetcherService(service);
  zedodo->setRefreshToken("rt-2");
  zedodo->setAccessToken("at-2");
  const int closedBefore = flood.closedByClient();
  start = Steady::now();
  SignIn::revokeTokenAtURL(zedodo, *URL::URLWithString(flood.url("revoke")));
  ASSERT_TRUE(time.runUntil([&] { return flood.closedByClient() > closedBefore; }, 30));
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_TRUE(time.runUntil([] { return URLSession::transfersInFlight() == 0; }));
}

TEST_F(OAuth2Test, StoppingOneOfTwoWaitersKeepsTheRefreshAndStoppingTheLastEndsIt) {
  server.reply("POST", "/token", {200, {}, kFreshToken, "application/json", 30.0});
  auth->setRefreshToken("rt-1");
  const auto first = authorize();
  const auto second = authorize();
  ASSERT_TRUE(auth->refreshFetcher());
  auth->stopAuthorizationForRequest(first->request);
  EXPECT_TRUE(auth->refreshFetcher());
  EXPECT_TRUE(auth->isAuthorizingRequest(second->request));
  auth->stopAuthorizationForRequest(first->request);  // no longer waiting: nothing changes
  EXPECT_TRUE(auth->refreshFetcher());
  auth->stopAuthorizationForRequest(second->request);
  EXPECT_FALSE(auth->refreshFetcher());
  time.runUntilIdle();
  EXPECT_EQ(first->calls + second->calls, 0);
}

TEST_F(OAuth2Test, RequestsFromOtherThreadsShareTheRefreshAndAnswerOnTheCallbackQueue) {
  server.reply("POST", "/token", json(kFreshToken));
  auth->setRefreshToken("rt-1");
  std::atomic<int> answered{0};
  std::atomic<int> signedWithFresh{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      auto request = std::make_shared<URLRequest>(*URL::URLWithString("https://api.example/t"));
      auth->authorizeRequest(request, [&, request](const std::optional<NSError>& error) {
        if (!error && request->valueForHTTPHeaderField("Authorization") == "Bearer fresh") ++signedWithFresh;
        ++answered;
      });
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(time.runUntil([&] { return answered == 4; }));
  EXPECT_EQ(signedWithFresh, 4);
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST(OAuth2Encoding, FormDecoding) {
  const struct {
    const char* text;
    Auth::Form expected;
  } cases[] = {
      {"a=1&b&c=x%20y", {{"a", "1"}, {"b", ""}, {"c", "x y"}}},
      {"", {{"", ""}}},
      {"k=1&k=2&plus=a+b&eq=x=y", {{"k", "2"}, {"plus", "a+b"}, {"eq", "x=y"}}},
      {"bad=%zz&ok=%C3%A9&notutf8=%FF", {{"ok", "\xC3\xA9"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Auth::dictionaryWithResponseString(std::string_view(c.text)), c.expected);
  }
  EXPECT_FALSE(Auth::dictionaryWithResponseString(std::nullopt));
  EXPECT_EQ(
      Auth::encodedQueryParametersForDictionary({{"b", "1 2"}, {"A", "!*'();:@&=+$,/?%#[]"}, {"c", "-._~\xC3\xA9"}}),
      "A=%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D&b=1%202&c=-._~%C3%A9");
}

TEST(OAuth2Persistence, KeepsTheRefreshTokenInsteadOfTheAccessTokenInCaseInsensitiveKeyOrder) {
  auto auth = Auth::create();
  auth->setKeysForResponseDictionary(
      Value::Dictionary{{"access_token", "at"}, {"expires_in", 3600}, {"id_token", "x.y.z"}, {"token_type", "Bearer"}});
  auth->setServiceProvider("Zedodo");
  auth->setUserID("42");
  auth->setUserEmail("ann@example.org");
  auth->setUserEmailIsVerified("1");
  auth->setScope("email profile");
  EXPECT_EQ(auth->persistenceResponseString(),
            "access_token=at&email=ann%40example.org&isVerified=1&scope=email%20profile&serviceProvider=Zedodo&"
            "userID=42");
  auth->setRefreshToken("rt/1");
  const auto saved = auth->persistenceResponseString();
  EXPECT_EQ(saved,
            "email=ann%40example.org&isVerified=1&refresh_token=rt%2F1&scope=email%20profile&serviceProvider=Zedodo&"
            "userID=42");

  auto restored = Auth::create();
  restored->setKeysForPersistenceResponseString(saved);
  EXPECT_EQ(restored->refreshToken(), "rt/1");
  EXPECT_EQ(restored->userEmail(), "ann@example.org");
  EXPECT_FALSE(restored->expirationDate());
  EXPECT_TRUE(restored->shouldRefreshAccessToken());

  restored->reset();
  EXPECT_FALSE(restored->canAuthorize());
  EXPECT_EQ(restored->userID(), "42");
  EXPECT_FALSE(restored->userEmail());
}

TEST(OAuth2Expiry, ALifetimeThatIsNotPositiveLeavesNoExpirySoARefreshableTokenRefreshesFirst) {
  VirtualTime time;
  auto auth = Auth::create();
  auth->setRefreshToken("rt");
  auth->setKeysForResponseDictionary(Value::Dictionary{{"access_token", "at"}, {"expires_in", "-5"}});
  EXPECT_FALSE(auth->expirationDate());
  EXPECT_TRUE(auth->shouldRefreshAccessToken());
  auth->setExpiresIn(120);
  EXPECT_EQ(auth->expirationDate(), time.now().dateByAddingTimeInterval(120));
  EXPECT_FALSE(auth->shouldRefreshAccessToken());

  // Lifetimes past any integer are clamped; ones that are not numbers above zero count as none.
  constexpr std::int64_t kLongest = 2147483647;
  const double inf = std::numeric_limits<double>::infinity();
  for (const Value& huge : {Value(1e308), Value(1.8e19), Value(9.3e18), Value("99999999999999999999")}) {
    auth->setKeysForResponseDictionary(Value::Dictionary{{"access_token", "at"}, {"expires_in", huge}});
    EXPECT_EQ(auth->expiresIn(), kLongest) << huge.description();
    EXPECT_EQ(auth->expirationDate(), time.now().dateByAddingTimeInterval(kLongest)) << huge.description();
    EXPECT_FALSE(auth->shouldRefreshAccessToken()) << huge.description();
  }
  for (const Value& none : {Value(inf), Value(-inf), Value(std::nan("")), Value(0.0), Value(-1e300), Value(0.5)}) {
    auth->setKeysForResponseDictionary(Value::Dictionary{{"access_token", "at"}, {"expires_in", none}});
    EXPECT_FALSE(auth->expiresIn()) << none.description();
    EXPECT_FALSE(auth->expirationDate()) << none.description();
    EXPECT_TRUE(auth->shouldRefreshAccessToken()) << none.description();
  }
}
