#include "signin/daz_sign_in.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "support/virtual_time.h"

namespace {

class ScriptedFlow : public DAZSignInFlow {
 public:
  void signIn(const std::shared_ptr<DAZSignInUIDelegate>& ui, Completion completion) override {
    presentedOn = ui;
    std::thread([&] { completion(user, error); }).join();
  }
  void signInSilently(Completion completion) override { completion(user, error); }
  bool handleURL(const URL& url, const std::optional<std::string>&, const std::optional<Value>&) override {
    return url.scheme() == "com.dorvale.app";
  }
  bool hasAuthInKeychain() const override { return stored; }
  void signOut() override { stored = false; }

  std::shared_ptr<DAZZedodoUser> user;
  std::optional<NSError> error;
  std::shared_ptr<DAZSignInUIDelegate> presentedOn;
  bool stored = true;
};

// Each answer as "<user> <error domain and code, or ok>, current <user>", "-" for no user.
struct RecordingDelegate : DAZSignInDelegate {
  void signIn(const std::shared_ptr<DAZSignIn>& signIn, const std::shared_ptr<DAZZedodoUser>& user,
              const std::optional<NSError>& error) override {
    EXPECT_TRUE(RunLoop::isMainThread());
    auto current = signIn->currentUser();
    calls.push_back((user ? user->userID().value_or("?") : "-") +
                    (error ? " " + error->domain + " " + std::to_string(error->code) : " ok") + ", current " +
                    (current ? current->userID().value_or("?") : "-"));
  }
  std::vector<std::string> calls;
};

struct Screen : DAZSignInUIDelegate {};

bool handles(DAZSignIn& signIn, const char* url) {
  return signIn.handleURL(*URL::URLWithString(url), std::nullopt, std::nullopt);
}

class DAZSignInTest : public ::testing::Test {
 protected:
  void SetUp() override { signIn->setDelegate(delegate); }

  std::shared_ptr<DAZZedodoUser> makeUser() {
    auto auth =
        std::make_shared<DAZAuthentication>("client", "tok", time.now().dateByAddingTimeInterval(3600), "r", nullptr);
    auto profile = std::make_shared<DAZProfileData>("ann@x.org", "Ann Lee", "Ann", "Lee", std::nullopt);
    return std::make_shared<DAZZedodoUser>("u1", auth, profile);
  }

  VirtualTime time;
  std::shared_ptr<DAZSignIn> signIn = std::make_shared<DAZSignIn>();
  std::shared_ptr<ScriptedFlow> flow = std::make_shared<ScriptedFlow>();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

}  // namespace

TEST_F(DAZSignInTest, ASuccessfulSignInBecomesTheCurrentUserBeforeTheWeaklyHeldDelegateHearsOfIt) {
  signIn->setFlow(flow);
  auto screen = std::make_shared<Screen>();
  signIn->setUiDelegate(screen);
  flow->user = makeUser();

  signIn->signIn();
  EXPECT_EQ(flow->presentedOn, screen);
  EXPECT_TRUE(delegate->calls.empty());
  time.runUntilIdle();
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"u1 ok, current u1"});

  // Sign-out forgets the user and the stored sign-in, without telling the delegate.
  EXPECT_TRUE(signIn->hasAuthInKeychain());
  signIn->signOut();
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(signIn->currentUser(), signIn->hasAuthInKeychain(), delegate->calls.size()),
            std::tuple(nullptr, false, 1u));

  // The delegate is held weakly: once it is gone a sign-in still completes, telling nobody.
  signIn->signIn();
  delegate.reset();
  time.runUntilIdle();
  EXPECT_TRUE(!signIn->delegate() && signIn->currentUser());
}

TEST_F(DAZSignInTest, FailedAttemptsReachTheDelegateWithoutAUserAndKeepTheCurrentOne) {
  // Nothing behind the component: both kinds of sign-in fail.
  signIn->signIn();
  signIn->signInSilently();
  time.runUntilIdle();
  EXPECT_FALSE(signIn->hasAuthInKeychain() || handles(*signIn, "com.dorvale.app:/cb"));

  signIn->setFlow(flow);
  flow->user = makeUser();
  signIn->signInSilently();
  // An error wins over a user that came with it; neither a user nor an error is an error.
  flow->error = NSError("net", 3);
  signIn->signInSilently();
  flow->user = nullptr;
  flow->error.reset();
  signIn->signIn();
  time.runUntilIdle();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{
                                 "- com.zedodo.DAZSignIn -1, current -", "- com.zedodo.DAZSignIn -4, current -",
                                 "u1 ok, current u1", "- net 3, current u1", "- com.zedodo.DAZSignIn -1, current u1"}));

  EXPECT_TRUE(handles(*signIn, "com.dorvale.app:/cb") && !handles(*signIn, "fb123://authorize"));
}

TEST_F(DAZSignInTest, ARestoreThatASignOutOvertookDeliversNoUser) {
  signIn->setFlow(flow);
  flow->user = makeUser();
  // The flow has answered; the delegate would hear of it on a later turn, after the sign-out.
  signIn->signInSilently();
  signIn->signOut();
  time.runUntilIdle();
  signIn->signInSilently();
  time.runUntilIdle();
  EXPECT_EQ(delegate->calls,
            (std::vector<std::string>{"- com.zedodo.DAZSignIn -5, current -", "u1 ok, current u1"}));
}

TEST(DAZProfileDataTest, OnlyImageServerPicturesAreAskedForASize) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"https://images.zedodo.com/a/photo.jpg", "https://images.zedodo.com/a/photo.jpg=s300"},
      {"https://lh3.images.zedodo.com/a-/AOh14=s96-c", "https://lh3.images.zedodo.com/a-/AOh14=s300"},
      {"https://notimages.zedodo.com/p.jpg", "https://notimages.zedodo.com/p.jpg"},
      {"https://example.com/p.jpg=s50", "https://example.com/p.jpg=s50"}};
  for (const auto& [url, sized] : cases) {
    DAZProfileData profile("a@b.cd", "A B", std::nullopt, std::nullopt, URL::URLWithString(url));
    EXPECT_EQ(profile.imageURLWithDimension(300).value_or(URL()).absoluteString(), sized);
  }
  DAZProfileData none(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_FALSE(none.hasImage() || none.imageURLWithDimension(300));
}
