#include "signin/daz_sign_in.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "signin/daz_sign_in_error.h"
#include "support/virtual_time.h"

namespace {

class ScriptedFlow : public DAZSignInFlow {
 public:
  void signIn(const std::shared_ptr<DAZSignInUIDelegate>& ui, Completion completion) override {
    presentedOn = ui;
    std::thread([&] { completion(user, error); }).join();
  }
  void signInSilently(Completion completion) override {
    ++silentCalls;
    completion(user, error);
  }
  bool handleURL(const URL& url, const std::optional<std::string>&, const std::optional<Value>&) override {
    return url.scheme() == "com.dorvale.app";
  }
  bool hasAuthInKeychain() const override { return stored; }
  void signOut() override {
    ++signOuts;
    stored = false;
  }

  std::shared_ptr<DAZZedodoUser> user;
  std::optional<NSError> error;
  std::shared_ptr<DAZSignInUIDelegate> presentedOn;
  int silentCalls = 0;
  int signOuts = 0;
  bool stored = true;
};

struct RecordingDelegate : DAZSignInDelegate {
  void signIn(const std::shared_ptr<DAZSignIn>& signIn, const std::shared_ptr<DAZZedodoUser>& user,
              const std::optional<NSError>& error) override {
    EXPECT_TRUE(RunLoop::isMainThread());
    calls.push_back({signIn, user, error, signIn->currentUser()});
  }
  struct Call {
    std::shared_ptr<DAZSignIn> signIn;
    std::shared_ptr<DAZZedodoUser> user;
    std::optional<NSError> error;
    std::shared_ptr<DAZZedodoUser> currentUser;
  };
  std::vector<Call> calls;
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
  ASSERT_EQ(delegate->calls.size(), 1u);
  const auto& call = delegate->calls[0];
  EXPECT_EQ(call.signIn, signIn);
  EXPECT_EQ(call.user, flow->user);
  EXPECT_FALSE(call.error);
  EXPECT_EQ(call.currentUser, flow->user);

  // Sign-out forgets the user and the stored sign-in, without telling the delegate.
  EXPECT_TRUE(signIn->hasAuthInKeychain());
  signIn->signOut();
  time.runUntilIdle();
  EXPECT_EQ(signIn->currentUser(), nullptr);
  EXPECT_FALSE(signIn->hasAuthInKeychain());
  EXPECT_EQ(flow->signOuts, 1);
  EXPECT_EQ(delegate->calls.size(), 1u);

  // The delegate is held weakly: once it is gone a sign-in still completes, telling nobody.
  signIn->signIn();
  delegate.reset();
  time.runUntilIdle();
  EXPECT_EQ(signIn->delegate(), nullptr);
  EXPECT_NE(signIn->currentUser(), nullptr);
}

TEST_F(DAZSignInTest, FailedAttemptsReachTheDelegateWithoutAUserAndKeepTheCurrentOne) {
  // Nothing behind the component: both kinds of sign-in fail.
  signIn->signIn();
  signIn->signInSilently();
  time.runUntilIdle();
  ASSERT_EQ(delegate->calls.size(), 2u);
  for (const auto& call : delegate->calls) {
    EXPECT_EQ(call.user, nullptr);
    ASSERT_TRUE(call.error);
    EXPECT_EQ(call.error->domain, DAZSignInErrorDomain);
  }
  EXPECT_EQ(delegate->calls[1].error->code, static_cast<long>(DAZSignInErrorCode::HasNoAuthInKeychain));
  EXPECT_FALSE(signIn->hasAuthInKeychain());
  EXPECT_FALSE(handles(*signIn, "com.dorvale.app:/cb"));

  signIn->setFlow(flow);
  flow->user = makeUser();
  signIn->signInSilently();
  time.runUntilIdle();
  auto user = signIn->currentUser();
  ASSERT_NE(user, nullptr);

  // An error wins over a user that came with it; neither a user nor an error is an error.
  flow->error = NSError("net", 3, {{NSLocalizedDescriptionKey, "offline"}});
  signIn->signInSilently();
  flow->user = nullptr;
  flow->error.reset();
  signIn->signIn();
  time.runUntilIdle();
  ASSERT_EQ(delegate->calls.size(), 5u);
  EXPECT_EQ(delegate->calls[3].user, nullptr);
  EXPECT_EQ(delegate->calls[3].error->localizedDescription(), "offline");
  EXPECT_EQ(delegate->calls[4].user, nullptr);
  EXPECT_TRUE(delegate->calls[4].error);
  EXPECT_EQ(signIn->currentUser(), user);

  EXPECT_TRUE(handles(*signIn, "com.dorvale.app:/cb"));
  EXPECT_FALSE(handles(*signIn, "fb123://authorize"));
}

TEST(DAZProfileDataTest, OnlyImageServerPicturesAreAskedForASize) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"https://images.zedodo.com/a/photo.jpg", "https://images.zedodo.com/a/photo.jpg?sz=300"},
      {"https://lh3.images.zedodo.com/p.jpg?sz=50&v=2", "https://lh3.images.zedodo.com/p.jpg?v=2&sz=300"},
      {"https://notimages.zedodo.com/p.jpg", "https://notimages.zedodo.com/p.jpg"},
      {"https://example.com/p.jpg?sz=50", "https://example.com/p.jpg?sz=50"}};
  for (const auto& [url, sized] : cases) {
    DAZProfileData profile("a@b.cd", "A B", std::nullopt, std::nullopt, URL::URLWithString(url));
    EXPECT_EQ(profile.imageURLWithDimension(300).value_or(URL()).absoluteString(), sized);
  }
  DAZProfileData none(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_FALSE(none.hasImage());
  EXPECT_FALSE(none.imageURLWithDimension(300));
}
