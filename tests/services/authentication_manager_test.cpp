#include "services/authentication_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/progress_indicator_helper.h"
#include "backend_fixture.h"
#include "platform/foundation/run_loop.h"
#include "platform/keychain/file_keychain_store.h"
#include "services/news_service.h"
#include "toolkit/session_fetcher_constants.h"
#include "support/refusing_keychain_store.h"
#include "support/temp_dir.h"

namespace {

class AuthenticationManagerTest : public BackendFixture {
 protected:
  static KeychainWrapper& keychainWrapper() { return KeychainWrapper::standard(); }
  // The three tokens as the keychain holds them, "-" for a missing one.
  static std::string storedTokens() {
    std::string text;
    for (const char* key : {"accessToken", "zedodoToken", "fbToken"})
      text += (text.empty() ? "" : " ") + keychainWrapper().stringForKey(key).value_or("-");
    return text;
  }

  struct Refresh {
    std::vector<std::string> tokens;
    Texts failures;  // "<domain> <code>"
  };
  void refresh(Refresh& outcome) {
    manager()->refreshZedodoToken(
        [&](std::string token) {
          EXPECT_TRUE(RunLoop::isMainThread());
          outcome.tokens.push_back(token);
        },
        [&](const NSError& error) { outcome.failures.push_back(error.domain + " " + std::to_string(error.code)); });
  }
};

}  // namespace

TEST_F(AuthenticationManagerTest, TheMethodIsRestoredFromWhichTokensTheKeychainHolds) {
  struct Case {
    bool inFiles;
    std::vector<std::pair<std::string, long>> written;  // in order, with the file's second
    std::optional<AuthenticationType> type;
  };
  const std::vector<Case> cases = {
      // The token written last decides: the memory store keeps the order of writes.
      {false, {{"accessToken", 0}, {"fbToken", 0}}, AuthenticationType::Facebook},
      {false, {{"fbToken", 0}}, AuthenticationType::Facebook},
      {false, {{"fbToken", 0}, {"zedodoToken", 0}}, AuthenticationType::Zedodo},
      {false, {{"accessToken", 0}, {"zedodoToken", 0}}, AuthenticationType::Zedodo},
      {false, {{"zedodoToken", 0}, {"accessToken", 0}}, AuthenticationType::Basic},
      {false, {}, std::nullopt},
      // Existence counts, not the value.
      {false, {{"zedodoToken:", 0}}, AuthenticationType::Zedodo},
      // The file store goes by the files' times; equal times by e-mail, Zedodo, Facebook.
      {true, {{"accessToken", 10}, {"fbToken", 11}}, AuthenticationType::Facebook},
      {true, {{"fbToken", 11}, {"accessToken", 10}}, AuthenticationType::Facebook},
      {true, {{"accessToken", 10}, {"fbToken", 10}}, AuthenticationType::Basic},
      {true, {{"fbToken", 10}, {"zedodoToken", 10}}, AuthenticationType::Zedodo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    const TempDir tmp;
    const auto files = std::make_shared<FileKeychainStore>(tmp.str() + "/keychain");
    KeychainStore::setCurrent(c.inFiles ? std::shared_ptr<KeychainStore>(files)
                                        : std::make_shared<MemoryKeychainStore>());
    for (auto [key, second] : c.written) {
      const bool empty = key.ends_with(':');
      if (empty) key.pop_back();
      ASSERT_TRUE(keychainWrapper().setString(empty ? "" : "t", key));
      const timespec times[2] = {{0, UTIME_OMIT}, {1700000000 + second, 0}};
      const auto path = files->pathForItem(KeychainWrapper::kStandardServiceName, key);
      if (c.inFiles) {
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
      }
    }
    auto restored = std::make_shared<AuthenticationManager>();
    EXPECT_EQ(restored->authenticationType(), c.type);
    EXPECT_EQ(restored->fbLoginManager()->loginBehavior(), FBSDKLoginBehavior::Web);
    KeychainStore::setCurrent(keychain);
  }
}

TEST_F(AuthenticationManagerTest, TokensLiveInTheKeychainOnlyUnderTheirOwnKeys) {
  manager()->setAccessToken("a1");
  manager()->setZedodoToken("z1");
  manager()->setFbToken("f1");
  EXPECT_EQ(storedTokens(), "a1 z1 f1");
  keychainWrapper().setString("a2", "accessToken");
  EXPECT_EQ(manager()->accessToken(), "a2");  // no copy in memory
  manager()->setAccessToken(std::nullopt);
  EXPECT_EQ(storedTokens(), "- z1 f1");
  EXPECT_EQ(keychain->count(), 2u);
}

TEST_F(AuthenticationManagerTest, LogoutClearsTheWholeSignInAndTellsTheDelegateAfterTheCompletion) {
  signInBasic();
  manager()->setFbToken("f");
  manager()->setFbUserData(std::map<std::string, std::string>{{"id", "1"}});
  auto profile = std::make_shared<DAZProfileData>("e", "n", std::nullopt, std::nullopt, std::nullopt);
  zedodoSignsIn(profile);
  manager()->setZedodoUserData(profile);
  FBSDKAccessToken::setCurrentAccessToken(
      std::make_shared<FBSDKAccessToken>("f", std::set<std::string>{}, std::set<std::string>{}, "app", "u"));
  const auto& indicator = ProgressIndicatorHelper::instance();
  auto pendingShow = RunLoop::main().scheduledTimer(0.5, false, [](Timer&) {});
  indicator->setTimer(pendingShow);

  manager()->logout([&] { sessionDelegate->calls.push_back("completion"); });
  EXPECT_FALSE(pendingShow->isValid() || indicator->timer() || manager()->authenticationType());
  EXPECT_FALSE(FBSDKAccessToken::currentAccessToken() || DAZSignIn::sharedInstance()->currentUser());
  EXPECT_EQ(std::tuple(keychain->count(), zedodoFlow->signOuts), std::tuple(0u, 1));
  EXPECT_EQ(sessionDelegate->calls, (Texts{"completion", "userDidLogout"}));
  // Provider profile data outlives the logout.
  EXPECT_TRUE(manager()->fbUserData());
  EXPECT_EQ(manager()->zedodoUserData(), profile);

  // Signed out already, and without a delegate: every step runs again, harmlessly.
  manager()->setSessionDelegate(std::weak_ptr<SessionDelegate>());
  int completions = 0;
  manager()->logout([&] { ++completions; });
  manager()->logout();
  EXPECT_EQ(std::tuple(completions, zedodoFlow->signOuts, sessionDelegate->calls.size()), std::tuple(1, 3, 2u));
}

// Another program on the same keychain signed out, then in again, before this one's next call.
TEST_F(AuthenticationManagerTest, ARefusedCallEndsOnlyThisProgramsSignInWhenTheKeychainHoldsAnother) {
  Outcome news;
  const auto getNews = [&] { locator().newsService()->getNews([&](const auto&) { ++news.successes; }, fail(news)); };
  // By e-mail, while this one was signed in through Facebook: the call goes unsent.
  signInFacebook("f1");
  keychainWrapper().removeObjectForKey("fbToken");
  keychainWrapper().setString("mail", "accessToken");
  getNews();
  waitForAnswer(news);
  EXPECT_EQ(std::tuple(news.failures, storedTokens(), manager()->authenticationType(), sessionDelegate->calls),
            std::tuple(Texts{unauthorizedMessage()}, "mail - -", std::nullopt, Texts{"userDidLogout"}));

  // Through Zedodo as another user, while this one's renewal is refused.
  keychainWrapper().removeObjectForKey("accessToken");
  zedodoSignsIn(nullptr, 30);
  manager()->setAuthenticationType(AuthenticationType::Zedodo);
  keychainWrapper().setString("z-other", "zedodoToken");
  getNews();
  waitFor([&] { return refresher->pending.size() == 1; });
  refresher->pending[0](tl::unexpected(NSError(kZTKSessionFetcherStatusDomain, 400)));
  waitFor([&] { return news.failures.size() == 2; });
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(news.answers(), storedTokens(), manager()->authenticationType(), zedodoFlow->signOuts,
                       server.requestCount()),
            std::tuple(2, "- z-other -", std::nullopt, 0, 0u));
}

TEST_F(AuthenticationManagerTest, ARefreshedZedodoTokenIsStoredAndAFailureChangesNothing) {
  manager()->setAuthenticationType(AuthenticationType::Zedodo);
  // Nobody signed in to Zedodo: a failure that ends the sign-in, later.
  Refresh outcome;
  refresh(outcome);
  EXPECT_TRUE(outcome.failures.empty());
  time.runUntilIdle();
  EXPECT_EQ(outcome.failures, Texts{"com.dorvale.transfer -1"});

  // Still valid for a minute: the same token, written again.
  zedodoSignsIn(nullptr, 60);
  keychainWrapper().setString("z0", "zedodoToken");
  refresh(outcome);
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(outcome.tokens, manager()->zedodoToken(), refresher->pending.size()),
            std::tuple(Texts{"z1"}, "z1", 0u));

  // About to expire and the refresh fails: its error, nothing stored, the method stays.
  time.advance(1);
  keychainWrapper().setString("z0", "zedodoToken");
  refresh(outcome);
  ASSERT_EQ(refresher->pending.size(), 1u);
  refresher->pending[0](tl::unexpected(NSError("net", 1)));
  time.runUntilIdle();
  EXPECT_EQ(
      std::tuple(outcome.failures, outcome.tokens.size(), manager()->zedodoToken(), manager()->authenticationType()),
      std::tuple(Texts{"com.dorvale.transfer -1", "net 1"}, 1u, "z0", AuthenticationType::Zedodo));
}

TEST_F(AuthenticationManagerTest, OnAFullDiskOnlyATokenNotStoredAlreadyIsSaidToBeUnsaved) {
  const auto full = std::make_shared<RefusingKeychainStore>(KeychainFailure{"/full/keychain", "No space left on device"});
  KeychainStore::setCurrent(full);
  manager()->setFbToken("f1");
  full->setRefusing(true);
  // A restored sign-in sets the token the keychain holds: nothing to save, nothing to say.
  testing::internal::CaptureStderr();
  manager()->setFbToken("f1");
  const std::string restored = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  manager()->setFbToken("f2");
  EXPECT_EQ(std::pair(restored, testing::internal::GetCapturedStderr()),
            std::pair(std::string(), std::string("dorvale: cannot save the sign-in in /full/keychain (No space left on "
                                                 "device): it lasts until the program ends\n")));
  EXPECT_EQ(storedTokens(), "- - f1");
}
