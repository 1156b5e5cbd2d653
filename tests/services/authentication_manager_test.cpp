#include "services/authentication_manager.h"

#include <gtest/gtest.h>

#include "app/progress_indicator_helper.h"
#include "platform/foundation/run_loop.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/keychain/keychain_wrapper.h"
#include "services_test_support.h"
#include "support/virtual_time.h"

namespace {

class AuthenticationManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeychainStore::setCurrent(keychain);
    DAZSignIn::sharedInstance()->setFlow(flow);
  }
  void TearDown() override {
    refresher->pending.clear();
    DAZSignIn::sharedInstance()->signOut();
    DAZSignIn::sharedInstance()->setFlow(nullptr);
    FBSDKAccessToken::setCurrentAccessToken(nullptr);
    time.runUntilIdle();
  }

  static KeychainWrapper& keychainWrapper() { return KeychainWrapper::standard(); }
  // The three tokens as the keychain holds them, "-" for a missing one.
  static std::string storedTokens() {
    std::string text;
    for (const char* key : {"accessToken", "zedodoToken", "fbToken"})
      text += (text.empty() ? "" : " ") + keychainWrapper().stringForKey(key).value_or("-");
    return text;
  }

  // Signs a Zedodo user in whose token is valid for `validFor` seconds.
  void signInToZedodo(TimeInterval validFor) {
    auto auth = std::make_shared<DAZAuthentication>("client", "z1", time.now().dateByAddingTimeInterval(validFor),
                                                    "refresh", refresher);
    flow->user = std::make_shared<DAZZedodoUser>("u", auth, nullptr);
    DAZSignIn::sharedInstance()->signIn();
    time.runUntilIdle();
    ASSERT_NE(DAZSignIn::sharedInstance()->currentUser(), nullptr);
  }

  struct Refresh {
    std::vector<std::string> tokens;
    int failures = 0;
  };
  void refresh(AuthenticationManager& manager, Refresh& outcome) {
    manager.refreshZedodoToken(
        [&](std::string token) {
          EXPECT_TRUE(RunLoop::isMainThread());
          outcome.tokens.push_back(token);
        },
        [&] { ++outcome.failures; });
  }

  VirtualTime time;
  std::shared_ptr<MemoryKeychainStore> keychain = std::make_shared<MemoryKeychainStore>();
  std::shared_ptr<ScriptedZedodoFlow> flow = std::make_shared<ScriptedZedodoFlow>();
  std::shared_ptr<ScriptedRefresher> refresher = std::make_shared<ScriptedRefresher>();
};

}  // namespace

TEST_F(AuthenticationManagerTest, TheMethodIsRestoredFromWhichTokensTheKeychainHolds) {
  struct Case {
    std::vector<const char*> keys;
    std::optional<AuthenticationType> type;
  };
  const std::vector<Case> cases = {
      {{"accessToken", "fbToken"}, AuthenticationType::Basic},
      {{"fbToken"}, AuthenticationType::Facebook},
      {{"zedodoToken", "fbToken"}, AuthenticationType::Zedodo},
      {{"accessToken", "zedodoToken"}, AuthenticationType::Basic},
      {{}, std::nullopt},
      // Existence counts, not the value.
      {{"zedodoToken:"}, AuthenticationType::Zedodo},
  };
  for (const auto& c : cases) {
    KeychainStore::setCurrent(std::make_shared<MemoryKeychainStore>());
    for (std::string key : c.keys) {
      const bool empty = key.ends_with(':');
      if (empty) key.pop_back();
      keychainWrapper().setString(empty ? "" : "t", key);
    }
    auto manager = std::make_shared<AuthenticationManager>();
    EXPECT_EQ(manager->authenticationType(), c.type) << c.keys.size();
    EXPECT_EQ(manager->fbLoginManager()->loginBehavior(), FBSDKLoginBehavior::Web);
  }
}

TEST_F(AuthenticationManagerTest, TokensLiveInTheKeychainOnlyUnderTheirOwnKeys) {
  auto manager = std::make_shared<AuthenticationManager>();
  manager->setAccessToken("a1");
  manager->setZedodoToken("z1");
  manager->setFbToken("f1");
  EXPECT_EQ(storedTokens(), "a1 z1 f1");
  keychainWrapper().setString("a2", "accessToken");
  EXPECT_EQ(manager->accessToken(), "a2");  // no copy in memory
  manager->setAccessToken(std::nullopt);
  EXPECT_EQ(storedTokens(), "- z1 f1");
  EXPECT_EQ(keychain->count(), 2u);
}

TEST_F(AuthenticationManagerTest, LogoutClearsTheWholeSignInAndTellsTheDelegateAfterTheCompletion) {
  for (const char* key : {"accessToken", "zedodoToken", "fbToken"}) keychainWrapper().setString("t", key);
  auto manager = std::make_shared<AuthenticationManager>();
  auto delegate = std::make_shared<RecordingSessionDelegate>();
  manager->setSessionDelegate(delegate);
  manager->setFbUserData(std::map<std::string, std::string>{{"id", "1"}});
  auto profile = std::make_shared<DAZProfileData>("e", "n", std::nullopt, std::nullopt, std::nullopt);
  manager->setZedodoUserData(profile);
  signInToZedodo(3600);
  FBSDKAccessToken::setCurrentAccessToken(
      std::make_shared<FBSDKAccessToken>("f", std::set<std::string>{}, std::set<std::string>{}, "app", "u"));
  const auto& indicator = ProgressIndicatorHelper::instance();
  auto pendingShow = RunLoop::main().scheduledTimer(0.5, false, [](Timer&) {});
  indicator->setTimer(pendingShow);

  manager->logout([&] { delegate->calls.push_back("completion"); });
  EXPECT_FALSE(pendingShow->isValid() || indicator->timer() || manager->authenticationType());
  EXPECT_FALSE(FBSDKAccessToken::currentAccessToken() || DAZSignIn::sharedInstance()->currentUser());
  EXPECT_EQ(std::tuple(keychain->count(), flow->signOuts), std::tuple(0u, 1));
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"completion", "userDidLogout"}));
  // Provider profile data outlives the logout.
  EXPECT_TRUE(manager->fbUserData());
  EXPECT_EQ(manager->zedodoUserData(), profile);

  // Signed out already, and without a delegate: every step runs again, harmlessly.
  delegate.reset();
  int completions = 0;
  manager->logout([&] { ++completions; });
  manager->logout();
  EXPECT_EQ(std::tuple(completions, flow->signOuts), std::tuple(1, 3));
}

TEST_F(AuthenticationManagerTest, ARefreshedZedodoTokenIsStoredAndAFailureChangesNothing) {
  keychainWrapper().setString("z0", "zedodoToken");
  auto manager = std::make_shared<AuthenticationManager>();
  ASSERT_EQ(manager->authenticationType(), AuthenticationType::Zedodo);

  // Nobody signed in to Zedodo: a failure, later.
  Refresh outcome;
  refresh(*manager, outcome);
  EXPECT_EQ(outcome.failures, 0);
  time.runUntilIdle();
  EXPECT_EQ(outcome.failures, 1);

  // Still valid for a minute: the same token, written again.
  signInToZedodo(60);
  refresh(*manager, outcome);
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(outcome.tokens, manager->zedodoToken(), refresher->pending.size()),
            std::tuple(std::vector<std::string>{"z1"}, "z1", 0u));

  // About to expire and the refresh fails: nothing stored, the method stays.
  time.advance(1);
  keychainWrapper().setString("z0", "zedodoToken");
  refresh(*manager, outcome);
  ASSERT_EQ(refresher->pending.size(), 1u);
  refresher->pending[0](tl::unexpected(NSError("net", 1)));
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(outcome.failures, outcome.tokens.size(), manager->zedodoToken(), manager->authenticationType()),
            std::tuple(2, 1u, "z0", AuthenticationType::Zedodo));
}
