#include "signin/daz_authentication.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "signin/daz_sign_in_error.h"
#include "support/virtual_time.h"

namespace {

// Keeps the refreshes asked for; the test answers them.
class ScriptedRefresher : public DAZTokenRefresher {
 public:
  void refreshAccessToken(const std::string& refreshToken, Completion completion) override {
    asked.push_back(refreshToken);
    pending.push_back(std::move(completion));
  }
  std::vector<std::string> asked;
  std::vector<Completion> pending;
};

// Each answer as the token ("-" for none), then the error's domain if any.
struct Answers {
  std::vector<std::string> got;
  DAZAuthentication::Handler handler() {
    return [this](std::optional<std::string> token, std::optional<NSError> error) {
      EXPECT_TRUE(RunLoop::isMainThread());
      got.push_back(token.value_or("-") + (error ? " " + error->domain : ""));
    };
  }
};

class DAZAuthenticationTest : public ::testing::Test {
 protected:
  // Unanswered refreshes hold their authentication, which holds the refresher.
  void TearDown() override { refresher->pending.clear(); }

  std::shared_ptr<DAZAuthentication> authentication(TimeInterval validFor, std::optional<std::string> refresh = "r1") {
    return std::make_shared<DAZAuthentication>("client", "t1", time.now().dateByAddingTimeInterval(validFor),
                                               std::move(refresh), refresher);
  }

  VirtualTime time;
  std::shared_ptr<ScriptedRefresher> refresher = std::make_shared<ScriptedRefresher>();
};

}  // namespace

TEST_F(DAZAuthenticationTest, ATokenValidForSixtySecondsOrMoreIsHandedOutWithoutARefresh) {
  for (TimeInterval validFor : {60.0, 3600.0}) {
    auto auth = authentication(validFor);
    Answers answers;
    auth->getAccessTokenWithHandler(answers.handler());
    EXPECT_TRUE(answers.got.empty());  // never inside the call
    time.runUntilIdle();
    EXPECT_EQ(answers.got, std::vector<std::string>{"t1"}) << validFor;
  }
  EXPECT_TRUE(refresher->asked.empty());
}

TEST_F(DAZAuthenticationTest, OneRefreshAnswersEveryHandlerThatWaitedForIt) {
  auto auth = authentication(59.5);
  Answers answers;
  for (int i = 0; i < 3; ++i) auth->getAccessTokenWithHandler(answers.handler());
  ASSERT_EQ(refresher->asked, std::vector<std::string>{"r1"});
  time.runUntilIdle();
  EXPECT_TRUE(answers.got.empty());

  // Answered from another thread, then once more: only the first answer counts.
  auto completion = refresher->pending[0];
  const Date expiry = time.now().dateByAddingTimeInterval(3600);
  std::thread([&] {
    completion(DAZTokenGrant{"t2", expiry, "r2"});
    completion(tl::unexpected(NSError("late", 1)));
  }).join();
  time.runUntilIdle();
  EXPECT_EQ(answers.got, (std::vector<std::string>(3, "t2")));

  // The new token is now handed out directly; once it is about to expire, the rotated refresh
  // token is used.
  auth->getAccessTokenWithHandler(answers.handler());
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(answers.got, refresher->asked.size()), std::tuple(std::vector<std::string>(4, "t2"), 1u));
  time.advance(3600 - 59);
  auth->getAccessTokenWithHandler(answers.handler());
  EXPECT_EQ(refresher->asked, (std::vector<std::string>{"r1", "r2"}));
}

TEST_F(DAZAuthenticationTest, AFailedOrImpossibleRefreshAnswersEveryHandlerWithAnErrorAndKeepsTheTokens) {
  auto auth = authentication(10);
  Answers answers;
  auth->getAccessTokenWithHandler(answers.handler());
  auth->getAccessTokenWithHandler(answers.handler());
  ASSERT_EQ(refresher->pending.size(), 1u);
  refresher->pending[0](tl::unexpected(NSError("net", 7)));
  // Without a refresh token, or without a refresher, nothing is asked for.
  authentication(-5, std::nullopt)->getAccessTokenWithHandler(answers.handler());
  std::make_shared<DAZAuthentication>("client", "t1", time.now(), "r1", nullptr)
      ->getAccessTokenWithHandler(answers.handler());
  EXPECT_TRUE(answers.got.empty());
  time.runUntilIdle();
  const std::string noRefresh = std::string("- ") + DAZSignInErrorDomain;
  EXPECT_EQ(std::tuple(answers.got, auth->accessToken()),
            std::tuple(std::vector<std::string>{"- net", "- net", noRefresh, noRefresh}, "t1"));

  // The next request tries again, with the same refresh token.
  auth->getAccessTokenWithHandler(answers.handler());
  EXPECT_EQ(refresher->asked, (std::vector<std::string>{"r1", "r1"}));
}
