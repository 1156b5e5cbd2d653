#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "backend_fixture.h"
#include "services/lecture_service.h"
#include "services/profile_service.h"

namespace {

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
  reply("Tablet/GetUserProfile", 200, profileJson(), "GET");
  fillLectureCaches();
  auto outcome = answer([&](auto ok, auto ko) {
    manager()->login(
        "ada@x.test", "secret",
        [ok] {
          EXPECT_EQ(locator().profileService()->user()->firstName(), "Ada");
          EXPECT_TRUE(locator().lectureService()->lectures().empty() &&
                      locator().lectureService()->quizLectures().empty());
          ok();
        },
        ko);
  });
  EXPECT_EQ(std::tuple(outcome.successes, signInState(), server.requestCount()), std::tuple(1, "Basic t1 - -", 2u));
  EXPECT_EQ(nlohmann::json::parse(server.requests()[0].body),
            (nlohmann::json{{"userName", "ada@x.test"}, {"password", "secret"}}));

  // A reply without a token still ends in one answer; the profile load had no token to send,
  // which ends the sign-in as a refused one would.
  reply("Account/TabletLogin", 200, "{}");
  auto tokenless = answer([&](auto ok, auto ko) { manager()->login("a", "b", ok, ko); });
  EXPECT_EQ(std::tuple(tokenless.failures, signInState(), server.requestCount(), sessionDelegate->calls),
            std::tuple(Texts{unauthorizedMessage()}, "- - - -", 3u, Texts{"userDidLogout"}));
}

TEST_F(EmailSignInTest, AuthenticatedCallsGoThroughTheErrorHandler) {
  // 401 ends the sign-in with the handler's text; another failure shows the body's message and
  // keeps it. A stored token that cannot be sent counts as refused.
  const struct {
    const char* name;
    std::string token;
    int status;
    Texts failures;
    std::string state;
    Texts calls;
  } cases[] = {
      {"refused", "tok", 401, {unauthorizedMessage()}, "- - - -", {"userDidLogout"}},
      {"server error", "tok", 500, {"Server busy"}, "Basic tok - -", {}},
      {"unsendable token", "tok\r\nX: 1", 200, {unauthorizedMessage()}, "- - - -", {"userDidLogout"}},
  };
  using Call = std::function<void(std::function<void()>, std::function<void(const std::string&)>)>;
  const std::pair<const char*, Call> calls[] = {
      {"changePassword", [](auto ok, auto ko) { manager()->changePassword("old", "new", ok, ko); }},
      {"addPassword", [](auto ok, auto ko) { manager()->addPassword("new", ok, ko); }},
      {"signIn", [](auto ok, auto ko) { manager()->signIn(ok, ko); }},
  };
  for (const auto& c : cases) {
    for (const auto& [name, call] : calls) {
      SCOPED_TRACE(std::string(c.name) + " " + name);
      signInBasic(c.token);
      sessionDelegate->calls.clear();
      const auto body = c.status == 200 ? std::string(R"({"token":"new"})") : R"({"errorMessage":"Server busy"})";
      for (const char* path : {"Account/TabletChangePassword", "Account/TabletAddPassword"}) reply(path, c.status, body);
      reply("Tablet/GetUserProfile", c.status, c.status == 200 ? profileJson() : body, "GET");
      const auto outcome = answer(call);
      EXPECT_EQ(std::tuple(outcome.successes, outcome.failures, signInState(), sessionDelegate->calls),
                std::tuple(0, c.failures, c.state, c.calls));
    }
  }
}

TEST_F(EmailSignInTest, UnauthenticatedCallsReportTheBodyMessageAndNeverLogOut) {
  signInBasic("keep");
  const std::vector<std::tuple<int, std::string, std::string>> cases = {
      {400, R"({"errorMessage":"Wrong password"})", "Wrong password"},
      {401, R"({"errorMessage":"Unknown user"})", "Unknown user"},
      {500, "<html>oops</html>", networkMessage()},
      {400, R"({"errorCode":3})", networkMessage()}};
  for (const auto& [status, body, expected] : cases) {
    SCOPED_TRACE(body);
    for (const char* path : {"Account/TabletLogin", "Account/TabletRegister", "Account/TabletPasswordRecovery"})
      reply(path, status, body);
    Outcome login, registration, recovery;
    manager()->login("a", "b", succeed(login), fail(login));
    manager()->register_("a", "f", "l", "p", "p", std::nullopt, succeed(registration), fail(registration));
    manager()->recoverPassword("a", succeed(recovery), fail(recovery));
    waitFor([&] { return login.answers() && registration.answers() && recovery.answers(); });
    time.runUntilIdle();
    for (const auto* outcome : {&login, &registration, &recovery}) EXPECT_EQ(outcome->failures, Texts{expected});
  }
  EXPECT_EQ(std::tuple(sessionDelegate->calls.size(), manager()->accessToken()), std::tuple(0u, "keep"));
}

TEST_F(EmailSignInTest, PasswordChangesMoveAProviderUserToBasic) {
  signInFacebook("fb");
  reply("Account/TabletChangePassword", 200, R"({"token":"b1"})");
  EXPECT_EQ(answer([&](auto ok, auto ko) { manager()->changePassword("old", "new", ok, ko); }).successes, 1);
  EXPECT_EQ(signInState(), "Basic b1 fb -");

  manager()->setZedodoToken("z");
  reply("Account/TabletAddPassword", 200, R"({"token":"b2"})");
  answer([&](auto ok, auto ko) { manager()->addPassword("new", ok, ko); });
  EXPECT_EQ(signInState(), "Basic b2 fb z");
}

TEST_F(EmailSignInTest, RegistrationAndRecoveryStoreOnlyWhatTheyShould) {
  reply("Account/TabletRegister", 200, R"({"token":"r1"})");
  auto registered = answer(
      [&](auto ok, auto ko) { manager()->register_("ada@x.test", "Ada", "Byron", "pw", "pw", std::nullopt, ok, ko); });
  EXPECT_EQ(std::tuple(registered.successes, lastBody().contains("schoolId"), lastBody()["confirmPassword"]),
            std::tuple(1, false, "pw"));
  EXPECT_EQ(std::tuple(signInState(), locator().profileService()->user(), server.requestCount()),
            std::tuple("Basic r1 - -", nullptr, 1u));

  manager()->logout();
  reply("Account/TabletPasswordRecovery", 200, "");
  EXPECT_EQ(answer([&](auto ok, auto ko) { manager()->recoverPassword("ada@x.test", ok, ko); }).successes, 1);
  EXPECT_EQ(signInState(), "- - - -");
}

TEST_F(EmailSignInTest, AProfileWithoutARequiredValueSignsNobodyIn) {
  signInBasic();
  fillLectureCaches();
  reply("Tablet/GetUserProfile", 200, R"({"firstName":"Ada","lastName":"Byron","id":7})", "GET");
  EXPECT_EQ(answer([&](auto ok, auto ko) { manager()->signIn(ok, ko); }).failures, Texts{networkMessage()});
  EXPECT_EQ(std::tuple(locator().profileService()->user(), locator().lectureService()->lectures().size(),
                       manager()->accessToken()),
            std::tuple(nullptr, 1u, "tok"));
}

}  // namespace
