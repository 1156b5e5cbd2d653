// The sample backend's fake Zedodo behaves as a standard authorization server with a public client.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "platform/foundation/url.h"
#include "sample_backend_process.h"
#include "signin/daz_oauth2_support.h"
#include "support/temp_dir.h"
#include "toolkit/oauth2_sign_in.h"
#include "zedodo_provider.h"

namespace {

struct Reply {
  int status = 0;
  std::string body;
  std::string location;
};

class ZedodoProviderTest : public testing::Test {
 protected:
  void SetUp() override { start(); }
  void start() {
    backend = std::make_unique<SampleBackendProcess>(dir.str());
    ASSERT_GT(backend->port(), 0);
    client = std::make_unique<httplib::Client>("127.0.0.1", backend->port());
    client->set_follow_location(false);
  }
  // Another backend process on the same data.
  void restart() {
    backend.reset();
    start();
  }

  // The authorization page's redirect for a public client with a PKCE challenge (its method
  // unless `method` is empty).
  Reply authorize(const std::string& redirect, const std::string& method = "S256") {
    std::string query = "/zedodo/o/oauth2/auth?response_type=code&client_id=client-7&state=s1&redirect_uri=" +
                        httplib::detail::encode_query_param(redirect) +
                        "&code_challenge=" + daz_oauth2::codeChallengeS256(verifier);
    if (!method.empty()) query += "&code_challenge_method=" + method;
    auto answer = client->Get(query);
    return {answer->status, answer->body, answer->get_header_value("Location")};
  }
  std::string codeFrom(const Reply& page) {
    for (const auto& item : URL::URLWithString(page.location)->queryItems())
      if (item.name == "code") return item.value.value_or("");
    return "";
  }
  Reply post(const std::string& path, const std::string& form) {
    auto answer = client->Post(path, form, "application/x-www-form-urlencoded");
    return {answer->status, answer->body, ""};
  }
  Reply exchange(const std::string& code, const std::string& extra = "") {
    return post("/zedodo/o/oauth2/token", "grant_type=authorization_code&client_id=client-7&code=" + code +
                                              "&redirect_uri=" + httplib::detail::encode_query_param(kRedirect) +
                                              "&code_verifier=" + verifier + extra);
  }
  std::string field(const Reply& reply, const std::string& name) {
    const auto at = reply.body.find("\"" + name + "\":\"");
    if (at == std::string::npos) return "";
    const auto start = at + name.size() + 4;
    return reply.body.substr(start, reply.body.find('"', start) - start);
  }
  Reply refresh(const std::string& token) {
    return post("/zedodo/o/oauth2/token", "grant_type=refresh_token&client_id=client-7&refresh_token=" + token);
  }

  const std::string kRedirect = "http://127.0.0.1:4711/oauth2callback";
  const std::string verifier = daz_oauth2::randomWebSafeText(32);
  int status(const std::string& path, const std::string& accessToken) {
    return client->Get(path, {{"Authorization", "Bearer " + accessToken}, {"Authorization-Provider", "zedodo"}})
        ->status;
  }

  TempDir dir{"zedodo"};
  std::unique_ptr<SampleBackendProcess> backend;
  std::unique_ptr<httplib::Client> client;
};

// The provider served in this process, on a clock the test sets.
class ZedodoProviderClockTest : public ZedodoProviderTest {
 protected:
  void SetUp() override {
    provider.addRoutes(http, [this](const char* pattern, httplib::Server::Handler handler) {
      http.Post(pattern, std::move(handler));
    });
    const int port = http.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    serving = std::thread([this] { http.listen_after_bind(); });
    while (!http.is_running()) std::this_thread::yield();
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_follow_location(false);
  }
  void TearDown() override {
    http.stop();
    if (serving.joinable()) serving.join();
  }

  // From the wall clock, which the store reads for codes.
  std::atomic<std::int64_t> now{std::time(nullptr)};
  Store store{dir.path() / "state.sqlite3"};
  ZedodoProvider provider{store, std::chrono::seconds(3600), [this] { return now.load(); }};
  httplib::Server http;
  std::thread serving;
};

}  // namespace

TEST_F(ZedodoProviderTest, TheCodeIsExchangedOnceWithItsVerifierAndRedirect) {
  const auto noMethod = authorize(kRedirect, "");
  EXPECT_EQ(noMethod.status, 302);
  EXPECT_NE(noMethod.location.find("error=invalid_request"), std::string::npos) << noMethod.location;
  EXPECT_EQ(authorize("https://elsewhere.example/cb").status, 400);

  const struct {
    const char* name;
    std::function<Reply(const std::string& code)> exchange;
    int status;
    const char* error;
  } cases[] = {
      {"wrong verifier", [&](const std::string& c) { return exchange(c, "x"); }, 400, "invalid_grant"},
      {"other redirect",
       [&](const std::string& c) {
         return post("/zedodo/o/oauth2/token", "grant_type=authorization_code&client_id=client-7&code=" + c +
                                                   "&redirect_uri=http%3A%2F%2F127.0.0.1%3A4712%2Foauth2callback"
                                                   "&code_verifier=" +
                                                   verifier);
       },
       400, "invalid_grant"},
      {"secret from a public client", [&](const std::string& c) { return exchange(c, "&client_secret=s"); }, 401,
       "invalid_client"},
      {"used twice",
       [&](const std::string& c) {
         EXPECT_EQ(exchange(c).status, 200);
         return exchange(c);
       },
       400, "invalid_grant"},
  };
  for (const auto& c : cases) {
    const auto reply = c.exchange(codeFrom(authorize(kRedirect)));
    EXPECT_EQ(reply.status, c.status) << c.name << ": " << reply.body;
    EXPECT_EQ(field(reply, "error"), c.error) << c.name;
  }

  const auto tokens = exchange(codeFrom(authorize(kRedirect)));
  ASSERT_EQ(tokens.status, 200) << tokens.body;
  EXPECT_NE(tokens.body.find("\"expires_in\":30"), std::string::npos);
  const std::string idToken = field(tokens, "id_token");
  const auto claims = ZSDK_ZTKOAuth2SignIn::decodeWebSafeBase64(
      idToken.substr(idToken.find('.') + 1, idToken.rfind('.') - idToken.find('.') - 1));
  EXPECT_NE(claims->toString().find(R"("email":"jordan.park@example.com")"), std::string::npos);
  EXPECT_NE(claims->toString().find(R"("sub":"2002")"), std::string::npos);
}

TEST_F(ZedodoProviderClockTest, RefreshTokensRotateAndAReusedOneOrARevocationEndsTheGrant) {
  const auto first = exchange(codeFrom(authorize(kRedirect)));
  const auto second = refresh(field(first, "refresh_token"));
  ASSERT_EQ(second.status, 200);
  EXPECT_NE(field(second, "refresh_token"), field(first, "refresh_token"));

  // The renewal retried, its answer lost: the same tokens, the access token's expiry unmoved.
  now += 10;
  const auto again = refresh(field(first, "refresh_token"));
  ASSERT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(field(again, "access_token"), field(second, "access_token"));
  EXPECT_EQ(field(again, "refresh_token"), field(second, "refresh_token"));
  EXPECT_NE(again.body.find("\"expires_in\":3590"), std::string::npos) << again.body;
  const auto third = refresh(field(again, "refresh_token"));
  ASSERT_EQ(third.status, 200) << third.body;
  httplib::Headers bearer{{"Authorization", "Bearer " + field(third, "access_token")}};
  EXPECT_EQ(client->Get("/zedodo/oauth2/v3/userinfo", bearer)->status, 200);

  // The old token again past the reuse interval: theft is assumed and the newer ones end too.
  now += ZedodoProvider::kReuseInterval.count();
  EXPECT_EQ(field(refresh(field(first, "refresh_token")), "error"), "invalid_grant");
  EXPECT_EQ(refresh(field(third, "refresh_token")).status, 400);
  EXPECT_EQ(client->Get("/zedodo/oauth2/v3/userinfo", bearer)->status, 401);

  // Revocation names the client, or the token lives on.
  const std::string token = field(exchange(codeFrom(authorize(kRedirect))), "refresh_token");
  EXPECT_EQ(post("/zedodo/o/oauth2/revoke", "token=" + token).status, 400);
  const std::string renewed = field(refresh(token), "refresh_token");
  ASSERT_FALSE(renewed.empty());
  EXPECT_EQ(post("/zedodo/o/oauth2/revoke", "client_id=client-7&token=" + renewed).status, 200);
  EXPECT_EQ(field(refresh(renewed), "error"), "invalid_grant");
}

TEST_F(ZedodoProviderTest, GrantsCodesAndTokensOutliveTheBackendWithTheirRotationAndRevocation) {
  const auto first = exchange(codeFrom(authorize(kRedirect)));
  ASSERT_EQ(first.status, 200) << first.body;
  const std::string access = field(first, "access_token");
  const auto registered = client->Post("/BrevantTest/Account/TabletExternalRegister",
                                       R"({"userName":"jordan.park@example.com","firstName":"Jordan",)"
                                       R"("lastName":"Park","provider":"zedodo","token":")" +
                                           access + R"("})",
                                       "application/json");
  ASSERT_EQ(registered->status, 200) << registered->body;
  const std::string waitingCode = codeFrom(authorize(kRedirect));
  const std::string revoked = field(exchange(codeFrom(authorize(kRedirect))), "refresh_token");
  EXPECT_EQ(post("/zedodo/o/oauth2/revoke", "client_id=client-7&token=" + revoked).status, 200);

  restart();
  EXPECT_EQ(status("/zedodo/oauth2/v3/userinfo", access), 200);
  EXPECT_EQ(status("/BrevantTest/Tablet/GetUserProfile", access), 200);
  EXPECT_EQ(exchange(waitingCode).status, 200);
  EXPECT_EQ(field(refresh(revoked), "error"), "invalid_grant");
  const auto second = refresh(field(first, "refresh_token"));
  ASSERT_EQ(second.status, 200) << second.body;

  restart();
  // The rotated token again: theft is assumed and the newer one ends too.
  const auto reused = refresh(field(first, "refresh_token"));
  EXPECT_NE(reused.body.find("used already"), std::string::npos) << reused.body;
  EXPECT_EQ(refresh(field(second, "refresh_token")).status, 400);
  EXPECT_EQ(status("/zedodo/oauth2/v3/userinfo", field(second, "access_token")), 401);
}

TEST(ZedodoProviderStateTest, ExpiryIsWallClockTimeAndOnlyDigestsAreKept) {
  const TempDir dir("zedodo-state");
  const auto file = dir.path() / "state.sqlite3";
  const std::int64_t now = std::time(nullptr);
  {
    Store store(file);
    const auto grant = store.addZedodoGrant("code.live", {"client-7", "http://127.0.0.1:1/cb", "c", 0, now + 600});
    store.addZedodoGrant("code.old", {"client-7", "http://127.0.0.1:1/cb", "c", 0, now - 1});
    store.issueZedodoTokens(grant, "access.old", now - 1, "refresh.1");
    store.issueZedodoTokens(grant, "access.live", now + 60, "refresh.2");
  }
  Store store(file);
  ZedodoProvider provider(store, std::chrono::seconds(30));
  EXPECT_FALSE(provider.subjectOfAccessToken("access.old"));
  EXPECT_EQ(provider.subjectOfAccessToken("access.live"), ZedodoProvider::kSubject);
  EXPECT_FALSE(store.useZedodoCode("code.old"));
  ASSERT_TRUE(store.useZedodoCode("code.live"));
  EXPECT_TRUE(store.useZedodoCode("code.live")->used);

  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  for (const char* secret : {"code.live", "access.live", "refresh.2"})
    EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
}
