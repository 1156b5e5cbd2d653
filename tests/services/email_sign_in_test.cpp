#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend_fixture.h"
#include "services/lecture_service.h"
#include "services/profile_service.h"

namespace {

constexpr const char* kProfile =
    R"({"firstName":"Ada","lastName":"Byron","id":"u1","userName":"ada@x.test","hasFacebook":false,)"
    R"("hasZedodo":false,"hasPassword":true})";

class EmailSignInTest : public BackendFixture {
 protected:
  // Cached lectures that a completed sign-in must drop.
  void fillLectureCaches() {
    auto lecture = Lecture::init(*LectureResponse::decode(R"({"id":1,"name":"n","description":"d","color":"x"})"));
    locator().lectureService()->setLectures({lecture});
    locator().lectureService()->setQuizLectures({lecture});
  }
};

TEST_F(EmailSignInTest, LoginStoresTheTokenThenLoadsTheProfileAndEmptiesTheCaches) {
  reply("Account/TabletLogin", 200, R"({"token":"t1"})");
  reply("Tablet/GetUserProfile", 200, kProfile, "GET");
  fillLectureCaches();
  Outcome outcome;
  manager()->login("ada@x.test", "secret", [&] {
    ++outcome.successes;
    EXPECT_EQ(locator().profileService()->user()->firstName(), "Ada");
    EXPECT_TRUE(locator().lectureService()->lectures().empty());
    EXPECT_TRUE(locator().lectureService()->quizLectures().empty());
  }, fail(outcome));
  waitForAnswer(outcome);
  EXPECT_EQ(outcome.successes, 1);
  EXPECT_EQ(manager()->accessToken(), "t1");
  EXPECT_EQ(manager()->authenticationType(), AuthenticationType::Basic);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[0].hasHeader("Authorization"));
  EXPECT_EQ(nlohmann::json::parse(requests[0].body), (nlohmann::json{{"userName", "ada@x.test"}, {"password", "secret"}}));
  EXPECT_EQ(requests[1].header("Authorization"), "Bearer t1");
}

TEST_F(EmailSignInTest, LoginWithoutATokenInTheReplyStillEndsInOneAnswer) {
  manager()->setAccessToken("old");
  reply("Account/TabletLogin", 200, "{}");
  Outcome outcome;
  manager()->login("a", "b", succeed(outcome), fail(outcome));
  waitForAnswer(outcome);
  EXPECT_EQ(outcome.failures, std::vector<std::string>{networkMessage()});
  EXPECT_FALSE(manager()->accessToken());
  EXPECT_EQ(manager()->authenticationType(), AuthenticationType::Basic);
  EXPECT_EQ(server.requestCount(), 1u) << "the profile load had no token to send";
}

TEST_F(EmailSignInTest, UnauthenticatedCallsReportTheBodyMessageAndNeverLogOut) {
  signInBasic("keep");
  struct Case {
    int status;
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases = {{400, R"({"errorMessage":"Wrong password"})", "Wrong password"},
                                   {401, R"({"errorMessage":"Unknown user"})", "Unknown user"},
                                   {500, "<html>oops</html>", networkMessage()},
                                   {400, R"({"errorCode":3})", networkMessage()}};
  for (const auto& c : cases) {
    reply("Account/TabletLogin", c.status, c.body);
    reply("Account/TabletRegister", c.status, c.body);
    reply("Account/TabletPasswordRecovery", c.status, c.body);
    Outcome login, registration, recovery;
    manager()->login("a", "b", succeed(login), fail(login));
    manager()->register_("a", "f", "l", "p", "p", std::nullopt, succeed(registration), fail(registration));
    manager()->recoverPassword("a", succeed(recovery), fail(recovery));
    waitFor([&] { return login.answers() && registration.answers() && recovery.answers(); });
    time.runUntilIdle();
    for (const auto* outcome : {&login, &registration, &recovery})
      EXPECT_EQ(outcome->failures, std::vector<std::string>{c.expected}) << c.status << " " << c.body;
  }
  EXPECT_TRUE(sessionDelegate->calls.empty());
  EXPECT_EQ(manager()->accessToken(), "keep");
}

TEST_F(EmailSignInTest, PasswordChangesMoveAProviderUserToBasicAnd401LogsOut) {
  manager()->setFbToken("fb");
  manager()->setAuthenticationType(AuthenticationType::Facebook);
  reply("Account/TabletChangePassword", 200, R"({"token":"b1"})");
  Outcome changed;
  manager()->changePassword("old", "new", succeed(changed), fail(changed));
  waitForAnswer(changed);
  EXPECT_EQ(changed.successes, 1);
  EXPECT_EQ(server.lastRequest()->header("Authorization"), "Bearer fb");
  EXPECT_EQ(manager()->authenticationType(), AuthenticationType::Basic);
  EXPECT_EQ(manager()->accessToken(), "b1");
  EXPECT_EQ(manager()->fbToken(), "fb");

  manager()->setZedodoToken("z");
  reply("Account/TabletAddPassword", 200, R"({"token":"b2"})");
  Outcome added;
  manager()->addPassword("new", succeed(added), fail(added));
  waitForAnswer(added);
  EXPECT_EQ(manager()->accessToken(), "b2");
  EXPECT_EQ(manager()->zedodoToken(), "z");

  reply("Account/TabletChangePassword", 401, R"({"errorMessage":"expired"})");
  Outcome rejected;
  manager()->changePassword("old", "new", succeed(rejected), [&](const std::string& m) {
    rejected.failures.push_back(m);
    sessionDelegate->calls.push_back("failure");
  });
  waitForAnswer(rejected);
  EXPECT_EQ(rejected.failures, std::vector<std::string>{unauthorizedMessage()});
  EXPECT_EQ(sessionDelegate->calls, (std::vector<std::string>{"failure", "userDidLogout"}));
  EXPECT_FALSE(manager()->authenticationType());
  EXPECT_FALSE(manager()->fbToken());
}

TEST_F(EmailSignInTest, RegistrationAndRecoveryStoreOnlyWhatTheyShould) {
  reply("Account/TabletRegister", 200, R"({"token":"r1"})");
  Outcome registered;
  manager()->register_("ada@x.test", "Ada", "Byron", "pw", "pw", std::nullopt, succeed(registered), fail(registered));
  waitForAnswer(registered);
  EXPECT_EQ(registered.successes, 1);
  EXPECT_FALSE(lastBody().contains("schoolId"));
  EXPECT_EQ(lastBody()["confirmPassword"], "pw");
  EXPECT_EQ(manager()->accessToken(), "r1");
  EXPECT_EQ(manager()->authenticationType(), AuthenticationType::Basic);
  EXPECT_EQ(locator().profileService()->user(), nullptr);
  EXPECT_EQ(server.requestCount(), 1u);

  manager()->logout();
  reply("Account/TabletPasswordRecovery", 200, "");
  Outcome recovered;
  manager()->recoverPassword("ada@x.test", succeed(recovered), fail(recovered));
  waitForAnswer(recovered);
  EXPECT_EQ(recovered.successes, 1);
  EXPECT_EQ(keychain->count(), 0u);
  EXPECT_FALSE(manager()->authenticationType());
}

TEST_F(EmailSignInTest, AProfileWithoutARequiredValueSignsNobodyIn) {
  signInBasic();
  fillLectureCaches();
  reply("Tablet/GetUserProfile", 200, R"({"firstName":"Ada","lastName":"Byron","id":7})", "GET");
  Outcome outcome;
  manager()->signIn(succeed(outcome), fail(outcome));
  waitForAnswer(outcome);
  EXPECT_EQ(outcome.failures, std::vector<std::string>{networkMessage()});
  EXPECT_EQ(locator().profileService()->user(), nullptr);
  EXPECT_EQ(locator().lectureService()->lectures().size(), 1u);
  EXPECT_EQ(manager()->accessToken(), "tok");
}

}  // namespace
