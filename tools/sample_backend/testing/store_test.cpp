// Each call's writes land whole or not at all, internal failures reach clients as a neutral
// message, and a long read of one account's results holds up no sign-in.
#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <stdexcept>
#include <thread>

#include "server.h"
#include "support/temp_dir.h"

namespace {

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

TEST_F(StoreTest, AnInternalFailureAnswersANeutralMessageAndLogsTheDetail) {
  SampleServerSettings settings;
  settings.store.passwordIterations = 1000;
  SampleServer server(dir.path() / "server", settings);
  const int port = server.bind(0);
  ASSERT_GT(port, 0);
  std::thread serving([&server] { server.run(); });
  server.store().faultHook = [](std::string_view) { throw std::runtime_error("sqlite: database is locked"); };

  testing::internal::CaptureStderr();
  httplib::Client client("127.0.0.1", port);
  auto answer = client.Post("/BrevantTest/Account/TabletRegister",
                            R"({"userName":"kim@example.com","firstName":"Kim","lastName":"Lee",)"
                            R"("password":"secret-1","confirmPassword":"secret-1"})",
                            "application/json");
  server.stop();
  serving.join();
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 500);
  EXPECT_EQ(answer->body.find("sqlite"), std::string::npos) << answer->body;
  EXPECT_NE(log.find("database is locked"), std::string::npos) << log;
}

}  // namespace
