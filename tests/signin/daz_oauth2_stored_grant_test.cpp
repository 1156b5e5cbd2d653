#include "signin/daz_oauth2_stored_grant.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/keychain/file_keychain_store.h"
#include "platform/keychain/keychain_lock.h"
#include "platform/net/url_session.h"
#include "signin/daz_oauth2_sign_in_flow.h"
#include "signin/daz_oauth2_support.h"
#include "signin/daz_sign_in.h"
#include "support/refusing_keychain_store.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"

using Auth = ZSDK_ZTKOAuth2Authentication;
using KeychainAuth = ZSDK_ZTKOAuth2KeychainAuth;

namespace {

// A token endpoint with refresh-token rotation: every refresh token works once, and one presented
// again ends the whole grant, as a standard server does. A test may hold the first answer back,
// or step in before the next answers.
class RotatingProvider {
 public:
  // Runs on the server's thread before the answer; a text is the answer's body (status 200).
  using StepIn = std::function<std::optional<std::string>(const std::string& token)>;

  RotatingProvider() {
    server_.set_tcp_nodelay(true);
    // An idle connection kept open would hold the server's stop for seconds.
    server_.set_keep_alive_max_count(1);
    server_.Post("/o/oauth2/token", [this](const httplib::Request& request, httplib::Response& response) {
      const auto form = Auth::dictionaryWithResponseString(request.body).value_or(Auth::Form{});
      const auto [status, body] = answer(form.count("refresh_token") ? form.at("refresh_token") : "");
      response.status = status;
      response.set_content(body, "application/json");
    });
    server_.Post("/o/oauth2/revoke", [this](const httplib::Request& request, httplib::Response&) {
      std::lock_guard lock(mutex_);
      revoked_.push_back(Auth::dictionaryWithResponseString(request.body).value_or(Auth::Form{})["token"]);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~RotatingProvider() {
    release();
    server_.stop();
    thread_.join();
  }

  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void holdFirstAnswer() { hold_ = true; }
  bool holding() const {
    std::lock_guard lock(mutex_);
    return held_ && hold_;
  }
  void release() {
    std::lock_guard lock(mutex_);
    hold_ = false;
    changed_.notify_all();
  }
  void stepIn(std::vector<StepIn> steps) {
    std::lock_guard lock(mutex_);
    steps_.assign(steps.begin(), steps.end());
  }
  // A server that only refuses a spent token, leaving the grant alive.
  void forgiveReplays() { endsGrantOnReplay_ = false; }
  // What another program's renewal does: the live token is spent, the next one is live.
  std::string rotate() {
    std::lock_guard lock(mutex_);
    used_.insert(live_);
    return live_ = "rt-" + std::to_string(++grants_);
  }
  std::vector<std::string> presented() const {
    std::lock_guard lock(mutex_);
    return presented_;
  }
  std::vector<std::string> revoked() const {
    std::lock_guard lock(mutex_);
    return revoked_;
  }
  bool grantEnded() const {
    std::lock_guard lock(mutex_);
    return ended_;
  }

 private:
  std::pair<int, std::string> answer(const std::string& token) {
    StepIn step;
    {
      std::unique_lock lock(mutex_);
      presented_.push_back(token);
      if (hold_ && !held_) {
        held_ = true;
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !hold_; });
      }
      if (!steps_.empty()) {
        step = std::move(steps_.front());
        steps_.pop_front();
      }
    }
    if (step) {
      if (auto body = step(token)) return {200, *body};
    }
    std::lock_guard lock(mutex_);
    if (ended_ || token != live_) {
      ended_ = ended_ || (endsGrantOnReplay_ && used_.count(token));
      return {400, R"({"error":"invalid_grant","error_description":"Token has been expired or revoked."})"};
    }
    used_.insert(token);
    live_ = "rt-" + std::to_string(++grants_);
    return {200, R"({"access_token":"at-)" + std::to_string(grants_) + R"(","refresh_token":")" + live_ +
                     R"(","expires_in":3600})"};
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool hold_ = false, held_ = false, ended_ = false, endsGrantOnReplay_ = true;
  std::deque<StepIn> steps_;
  std::set<std::string> used_;
  std::string live_ = "rt-0";
  int grants_ = 0;
  std::vector<std::string> presented_, revoked_;
};

struct Outcomes : DAZSignInDelegate {
  void signIn(const std::shared_ptr<DAZSignIn>&, const std::shared_ptr<DAZZedodoUser>& user,
              const std::optional<NSError>& error) override {
    said.push_back(error ? error->domain + " " + std::to_string(error->code) + " " + error->localizedDescription()
                         : "ok " + user->authentication()->accessToken().value_or("-"));
  }
  std::vector<std::string> said;
};

// Programs started on one data directory: each a sign-in component of its own over the keychain
// files there, against the rotating provider.
class StoredGrantTest : public ::testing::Test {
 protected:
  StoredGrantTest() {
    KeychainStore::setCurrent(std::make_shared<FileKeychainStore>(directory.str() + "/keychain"));
    ZSDK_ZTKOAuth2SignIn::setProviderHosts({provider.origin(), provider.origin(), "zedodo.com"});
  }
  ~StoredGrantTest() override {
    time.runUntil([] { return URLSession::transfersInFlight() == 0; }, 10);
    time.runUntilIdle();
    ZSDK_ZTKOAuth2SignIn::setProviderHosts({});
    KeychainStore::setCurrent(nullptr);
  }

  struct Program {
    std::shared_ptr<DAZSignIn> signIn = std::make_shared<DAZSignIn>();
    std::shared_ptr<Outcomes> outcomes = std::make_shared<Outcomes>();
  };
  // `lockTimeout`: how long it waits for another program renewing the grant.
  Program start(TimeInterval lockTimeout = 5) {
    Program program;
    program.signIn->setFlow(std::make_shared<DAZOAuth2SignInFlow>([] { return std::string("client-7"); },
                                                                  [](const URL&) { return true; }, 30, lockTimeout));
    program.signIn->setDelegate(program.outcomes);
    return program;
  }
  void store(const std::string& refreshToken) {
    auto saved = ZSDK_ZTKOAuth2SignIn::standardZedodoAuthenticationForScope("openid", "client-7", std::nullopt);
    saved->setRefreshToken(refreshToken);
    saved->setUserID("42");
    ASSERT_TRUE(KeychainAuth::saveParamsToKeychainForName(daz_oauth2::kKeychainItemName, saved));
  }
  static std::optional<std::string> stored() {
    return KeychainAuth::authForZedodoFromKeychainForName(daz_oauth2::kKeychainItemName, "client-7", std::nullopt)
        ->refreshToken();
  }
  bool answered(const Program& program, std::size_t count = 1) {
    return time.runUntil([&] { return program.outcomes->said.size() >= count; }, 10);
  }

  TempDir directory;
  VirtualTime time;
  RotatingProvider provider;
};

}  // namespace

TEST_F(StoredGrantTest, TwoProgramsRestoringAtOnceRenewTheGrantOneAfterTheOther) {
  store("rt-0");
  provider.holdFirstAnswer();
  auto first = start();
  auto second = start();
  first.signIn->signInSilently();
  ASSERT_TRUE(time.runUntil([&] { return provider.holding(); }, 10));
  // The second starts while the first waits for its answer, and waits for the first.
  second.signIn->signInSilently();
  time.runUntilIdle();
  provider.release();
  ASSERT_TRUE(answered(first) && answered(second));
  EXPECT_EQ(std::tuple(first.outcomes->said[0], second.outcomes->said[0]), std::tuple("ok at-1", "ok at-2"));
  EXPECT_EQ(provider.presented(), (std::vector<std::string>{"rt-0", "rt-1"}));
  EXPECT_EQ(stored(), "rt-2");

  // The first program's session renews with what the second saved, not with its own spent token.
  auto authentication = first.signIn->currentUser()->authentication();
  time.advance(3600);
  std::vector<std::optional<std::string>> tokens;
  authentication->getAccessTokenWithHandler(
      [&](std::optional<std::string> token, std::optional<NSError>) { tokens.push_back(token); });
  ASSERT_TRUE(time.runUntil([&] { return !tokens.empty(); }, 10));
  EXPECT_EQ(tokens[0], "at-3");
  EXPECT_EQ(std::tuple(authentication->refreshToken(), stored(), provider.grantEnded()),
            std::tuple("rt-3", "rt-3", false));
}

TEST_F(StoredGrantTest, AProgramThatCannotHaveTheLockGoesOnWithoutItAfterItsWait) {
  store("rt-0");
  auto held = KeychainLock::acquire(directory.str() + "/keychain");
  ASSERT_TRUE(held);
  auto impatient = start(0.05);
  impatient.signIn->signInSilently();
  ASSERT_TRUE(answered(impatient));
  EXPECT_EQ(std::tuple(impatient.outcomes->said[0], stored()), std::tuple("ok at-1", "rt-1"));
}

TEST_F(StoredGrantTest, ARefusedTokenIsTriedOnceMoreWhenTheKeychainMovedOn) {
  // Another program, one that did not wait, renewed the grant while this one's refresh was out.
  provider.forgiveReplays();
  store("rt-0");
  const RotatingProvider::StepIn renewedElsewhere = [this](const std::string&) -> std::optional<std::string> {
    store(provider.rotate());
    return std::nullopt;
  };
  provider.stepIn({renewedElsewhere});
  auto program = start();
  program.signIn->signInSilently();
  ASSERT_TRUE(answered(program));
  EXPECT_EQ(std::tuple(program.outcomes->said[0], provider.presented(), stored()),
            std::tuple("ok at-2", std::vector<std::string>{"rt-0", "rt-1"}, "rt-2"));

  // Once only; what the other program saved stays.
  provider.stepIn({renewedElsewhere, renewedElsewhere});
  auto again = start();
  again.signIn->signInSilently();
  ASSERT_TRUE(answered(again));
  EXPECT_EQ(again.outcomes->said[0],
            "com.zedodo.HTTPStatus 400 The previous Zedodo sign-in could not be restored: Token has been expired or "
            "revoked.");
  EXPECT_EQ(std::tuple(provider.presented().size(), stored()), std::tuple(4u, "rt-4"));
}

TEST_F(StoredGrantTest, ATokenAnswerWithoutAUsableTokenKeepsTheStoredGrant) {
  store("rt-0");
  const auto answering = [](std::string body) -> RotatingProvider::StepIn {
    return [body](const std::string&) { return body; };
  };
  provider.stepIn({answering(R"({"access_token":"at-a","refresh_token":"","expires_in":3600})"),
                   answering(R"({"access_token":"at-b","refresh_token":null,"expires_in":3600})"),
                   answering(R"({"access_token":"","refresh_token":"rt-c","expires_in":3600})"),
                   answering(R"({"access_token":"at-d","expires_in":3600})")});
  for (const char* expected :
       {"ok at-a", "ok at-b",
        "com.zedodo.ZTKOAuth2 -1001 The previous Zedodo sign-in could not be restored: no access token in the "
        "provider's answer",
        "ok at-d"}) {
    auto program = start();
    program.signIn->signInSilently();
    ASSERT_TRUE(answered(program));
    EXPECT_EQ(std::tuple(program.outcomes->said[0], stored()), std::tuple(expected, "rt-0"));
    if (auto user = program.signIn->currentUser()) {
      EXPECT_EQ(user->authentication()->refreshToken(), "rt-0");
    }
  }
  EXPECT_EQ(provider.presented(), std::vector<std::string>(4, "rt-0"));
}

TEST_F(StoredGrantTest, ALateAnswerAfterASignOutIsDroppedAndRevoked) {
  store("rt-0");
  provider.holdFirstAnswer();
  auto program = start();
  program.signIn->signInSilently();
  ASSERT_TRUE(time.runUntil([&] { return provider.holding(); }, 10));
  program.signIn->signOut();
  EXPECT_FALSE(stored());
  provider.release();
  ASSERT_TRUE(answered(program));
  EXPECT_EQ(program.outcomes->said[0], "com.zedodo.DAZSignIn -5 The Zedodo sign-in was ended by a sign-out.");
  EXPECT_EQ(std::tuple(program.signIn->currentUser(), stored()), std::tuple(nullptr, std::nullopt));
  // The sign-out revoked what it found; the late answer's grant goes back too.
  ASSERT_TRUE(time.runUntil([&] { return provider.revoked().size() == 2; }, 10));
  auto revoked = provider.revoked();
  std::sort(revoked.begin(), revoked.end());
  EXPECT_EQ(revoked, (std::vector<std::string>{"rt-0", "rt-1"}));
}

TEST_F(StoredGrantTest, ARenewalTheKeychainCannotSaveGoesOnAndIsToldOncePerCause) {
  auto keychain = std::make_shared<RefusingKeychainStore>(KeychainFailure{directory.str(), "No space left on device"});
  KeychainStore::setCurrent(keychain);
  testing::internal::CaptureStderr();
  for (const char* expected : {"ok at-2", "ok at-4"}) {
    keychain->setRefusing(false);
    store(provider.rotate());
    keychain->setRefusing(true);
    auto program = start();
    program.signIn->signInSilently();
    ASSERT_TRUE(answered(program));
    // The rotated grant is gone with the old one, as a write that deletes first leaves it.
    EXPECT_EQ(std::tuple(program.outcomes->said[0], stored()), std::tuple(expected, std::nullopt));
  }
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string line = "dorvale: cannot save the sign-in in " + directory.str() +
                           " (No space left on device): it lasts until the program ends\n";
  EXPECT_NE(said.find(line), std::string::npos) << said;
  EXPECT_EQ(said.find(line), said.rfind(line)) << said;
}
