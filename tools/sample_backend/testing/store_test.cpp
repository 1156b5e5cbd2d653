// Each call's writes land whole or not at all, internal failures reach clients as a neutral
// message, a long read of one account's results holds up no sign-in and goes out as it is read.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <thread>

#include "server.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

// The results as the answer of one JSON value writes them.
std::string wholeList(const std::vector<QuizResult>& results) {
  json list = json::array();
  for (const auto& r : results)
    list.push_back({{"id", r.id}, {"score", r.score}, {"time", r.time}, {"result", r.result}, {"dateString", r.date},
                    {"answersScore", r.answersScore}, {"maxScore", r.maxScore}, {"quizId", r.quizId},
                    {"studentId", std::to_string(r.accountId)}, {"mobileId", r.mobileId}});
  return list.dump(-1, ' ', false, json::error_handler_t::replace);
}

class StoreTest : public testing::Test {
 protected:
  // Fails the call at `step`.
  void failAt(std::string step) {
    store.faultHook = [step](std::string_view at) {
      if (at == step) throw std::runtime_error("fault at " + step);
    };
  }

  TempDir dir{"sample-store"};
  Store store{dir.path() / "state.sqlite3", {1000, std::chrono::seconds(3600)}};
  const Account kim{0, "kim@example.com", "Kim", "Lee", false};
};

// A server on its own thread, on a data directory of its own, stopped at the latest with this.
class ServingTest : public StoreTest {
 protected:
  void SetUp() override {
    port = server.bind(0);
    ASSERT_GT(port, 0);
    serving = std::thread([this] { server.run(); });
  }
  void TearDown() override { stop(); }
  void stop() {
    if (!serving.joinable()) return;
    server.stop();
    serving.join();
  }

  SampleServer server{dir.path() / "server", [] {
                        SampleServerSettings settings;
                        settings.store.passwordIterations = 1000;
                        return settings;
                      }()};
  int port = 0;
  std::thread serving;
};

TEST_F(StoreTest, AFailedCallLeavesNothingHalfWritten) {
  failAt("account inserted");
  EXPECT_THROW(store.createAccount(kim, PasswordHash::of("secret-1", 1000), {1}), std::runtime_error);
  EXPECT_FALSE(store.accountByEmail(kim.email));

  store.faultHook = nullptr;
  const Id id = *store.createAccount(kim, PasswordHash::of("secret-1", 1000), {1});
  EXPECT_FALSE(store.createAccount(kim, std::nullopt, {}));
  const std::string token = store.issueToken(id);
  failAt("password set");
  EXPECT_THROW(store.changePassword(id, PasswordHash::of("secret-2", 1000)), std::runtime_error);
  EXPECT_TRUE(store.password(id)->verifies("secret-1"));
  EXPECT_EQ(store.passwordChanged(id), false);
  EXPECT_EQ(store.accountForToken("basic", token), id);

  QuizResult result;
  result.accountId = id;
  result.quizId = 101;
  result.maxScore = 1;
  result.date = "2024-01-01 00:00:00";
  failAt("results saved");
  EXPECT_THROW(store.saveResults({result}, {{1, 1}}), std::runtime_error);
  EXPECT_TRUE(store.results(id).empty());
  EXPECT_TRUE(store.earned(id).empty());
}

// Each read of results is held open by the hook while another account signs in on another
// thread: found by e-mail, its password checked, a token issued and looked up.
TEST_F(StoreTest, ASignInDoesNotWaitForAReadOfResults) {
  const Id holder = *store.createAccount(kim, std::nullopt, {1});
  const Id other =
      *store.createAccount({0, "sam@example.com", "Sam", "Roe", false}, PasswordHash::of("secret-1", 1000), {1});
  QuizResult result;
  result.accountId = holder;
  result.quizId = 101;
  result.score = 1;
  result.maxScore = 2;
  result.date = "2024-01-01 00:00:00";
  store.saveResults({result, result}, {});

  std::vector<std::future<std::optional<Id>>> signIns;
  store.faultHook = [this, &signIns](std::string_view step) {
    if (step != "results read") return;
    signIns.push_back(std::async(std::launch::async, [this]() -> std::optional<Id> {
      const auto account = store.accountByEmail("sam@example.com");
      if (!account || !store.password(account->id)->verifies("secret-1")) return std::nullopt;
      return store.accountForToken("basic", store.issueToken(account->id));
    }));
    // Bounded, so that a sign-in that waits fails the test rather than hanging it.
    EXPECT_EQ(signIns.back().wait_for(std::chrono::seconds(10)), std::future_status::ready) << "sign-in waited";
  };
  EXPECT_EQ(store.results(holder).size(), 2u);
  EXPECT_EQ(store.bestResults(holder, {101, 102}).size(), 1u);
  EXPECT_EQ(store.resultCount(holder), 2);
  store.faultHook = nullptr;
  ASSERT_EQ(signIns.size(), 3u);
  for (auto& signIn : signIns) EXPECT_EQ(signIn.get(), other);
}

TEST_F(ServingTest, AnInternalFailureAnswersANeutralMessageAndLogsTheDetail) {
  server.store().faultHook = [](std::string_view) { throw std::runtime_error("sqlite: database is locked"); };

  testing::internal::CaptureStderr();
  httplib::Client client("127.0.0.1", port);
  auto answer = client.Post("/BrevantTest/Account/TabletRegister",
                            R"({"userName":"kim@example.com","firstName":"Kim","lastName":"Lee",)"
                            R"("password":"secret-1","confirmPassword":"secret-1"})",
                            "application/json");
  stop();
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 500);
  EXPECT_EQ(answer->body.find("sqlite"), std::string::npos) << answer->body;
  EXPECT_NE(log.find("database is locked"), std::string::npos) << log;
}

// Held open together, reads share a few connections rather than opening one each.
TEST_F(StoreTest, ManyReadsAtOnceOpenOnlyAFewConnections) {
  const Id holder = *store.createAccount(kim, std::nullopt, {1});
  const auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  EXPECT_EQ(store.resultCount(holder), 0);
  const auto before = descriptors();
  std::mutex mutex;
  std::condition_variable entered;
  int inside = 0;
  store.faultHook = [&](std::string_view) {
    std::unique_lock lock(mutex);
    ++inside;
    entered.notify_all();
    entered.wait_for(lock, 50ms, [&] { return inside > 16; });
    --inside;
  };
  std::vector<std::future<std::int64_t>> reads;
  for (int i = 0; i < 64; ++i) reads.push_back(std::async(std::launch::async, [&] { return store.resultCount(holder); }));
  for (auto& read : reads) EXPECT_EQ(read.get(), 0);
  EXPECT_LE(descriptors() - before, 16);
}

// Thousands of results go out in pieces, read a batch at a time; decoded, the answer is the text
// of the whole list, invalid UTF-8 replaced. A failed read before the first piece is an error
// answer; after it, the transfer fails rather than ending in a shorter list.
TEST_F(ServingTest, AnAccountsResultsGoOutAsTheyAreReadWithTheTextOfTheWholeList) {
  Store& held = server.store();
  std::vector<QuizResult> saved, ofQuiz102;
  for (int i = 0; i < 3000; i += 100) {
    std::vector<QuizResult> batch(100);
    for (int k = 0; k < 100; ++k) {
      QuizResult& r = batch[std::size_t(k)];
      r.accountId = held.accountByEmail(SampleServer::kDemoEmail)->id;
      r.quizId = (i + k) % 3 ? 101 : 102;
      r.score = (i + k) % 7 * 0.5;
      r.maxScore = 3;
      r.date = fmt::format("2024-01-{:02} 10:00:00", 1 + (i + k) % 28);
      r.answersScore = i + k == 1234 ? "1.0\xff\xfe;0.5" : fmt::format("\"{}\"\\\n\t\x01 \u00fc \u20ac", i + k);
    }
    for (const auto& r : held.saveResults(batch, {})) {
      saved.push_back(r);
      if (r.quizId == 102) ofQuiz102.push_back(r);
    }
  }
  httplib::Client client("127.0.0.1", port);
  auto login = client.Post("/BrevantTest/Account/TabletLogin",
                           json{{"userName", SampleServer::kDemoEmail}, {"password", SampleServer::kDemoPassword}}.dump(),
                           "application/json");
  ASSERT_TRUE(login && login->status == 200);
  const httplib::Headers headers{{"Authorization", "Bearer " + json::parse(login->body)["token"].get<std::string>()},
                                 {"Authorization-Provider", "basic"}};
  const auto results = [&](const std::string& request) {
    return client.Post("/BrevantTest/Tablet/GetQuizResults", headers, request, "application/json");
  };
  auto all = results("{}");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->get_header_value("Transfer-Encoding"), "chunked");
  EXPECT_TRUE(all->body == wholeList(saved)) << all->body.size() << " bytes";
  auto some = results(R"({"quizId":102})");
  EXPECT_TRUE(some && some->body == wholeList(ofQuiz102));
  auto none = results(R"({"quizId":999})");
  EXPECT_TRUE(none && none->body == "[]");

  std::atomic<int> reads{0}, failing{1};
  held.faultHook = [&](std::string_view step) {
    if (step == "results read" && ++reads == failing) throw std::runtime_error("disk I/O error");
  };
  auto early = results("{}");
  EXPECT_TRUE(early && early->status == 500);
  reads = 0;
  failing = 2;
  EXPECT_FALSE(results("{}"));
  held.faultHook = nullptr;
}

}  // namespace
