#include "backend/backend_api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "backend/fake_authentication.h"
#include "platform/frameworks/xcg_logger.h"
#include "platform/http/manager.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

namespace {

using json = nlohmann::json;

// One backend call as the catalogue gives it, and how to make it.
struct Call {
  std::string name;
  std::string method;
  std::string path;                 // after the base URL
  std::optional<std::string> body;  // JSON text; absent: a zero-byte body
  bool authorized;
  // Makes the call; `done` runs once its completion was called.
  std::function<void(BackendApi&, std::function<void()> done)> make;
};

template <class T>
BackendApi::Completion<T> doneWhenCalled(std::function<void()> done) {
  return [done](std::optional<T>, std::optional<TransferError<ErrorResponse>>) { done(); };
}

std::vector<Call> jsonCalls() {
  SaveQuizResultsRequest result;
  result.quizId = 5;
  result.score = 0.75;
  result.time = 0;
  result.answersScore = "1.0000;0.5000";
  result.maxScore = 2;
  result.mobileId = 0;
  result.questionsId = "12;15";

  return {
      {"login", "POST", "Account/TabletLogin", R"({"userName":"ann@x.org","password":"pw"})", false,
       [](BackendApi& api, auto done) { api.login("ann@x.org", "pw", doneWhenCalled<LoginResponse>(done)); }},
      {"changePassword", "POST", "Account/TabletChangePassword", R"({"oldPassword":"o","newPassword":"n"})", true,
       [](BackendApi& api, auto done) { api.changePassword("o", "n", doneWhenCalled<LoginResponse>(done)); }},
      {"externalRegister", "POST", "Account/TabletExternalRegister",
       R"({"userName":"u","firstName":"f","lastName":"l","token":"t","provider":"zedodo","schoolId":[4,9]})", false,
       [](BackendApi& api, auto done) {
         api.externalRegister("u", "f", "l", "t", "zedodo", std::vector<BackendApi::Id>{4, 9},
                              doneWhenCalled<LoginResponse>(done));
       }},
      {"addPassword", "POST", "Account/TabletAddPassword", R"({"newPassword":"n"})", true,
       [](BackendApi& api, auto done) { api.addPassword("n", doneWhenCalled<LoginResponse>(done)); }},
      {"addExternalProfile", "POST", "Account/TabletAddExternalProfile", R"({"provider":"facebook","token":"t"})",
       true,
       [](BackendApi& api, auto done) {
         api.addExternalProfile("facebook", "t", doneWhenCalled<LoginResponse>(done));
       }},
      {"modifyExternalProfile", "POST", "Account/TabletAddExternalProfile", R"({"provider":"facebook","token":"t"})",
       true,
       [](BackendApi& api, auto done) {
         api.modifyExternalProfile("facebook", "t", doneWhenCalled<EmptyPayload>(done));
       }},
      {"register", "POST", "Account/TabletRegister",
       R"({"userName":"u","firstName":"f","lastName":"l","password":"p","confirmPassword":"p"})", false,
       [](BackendApi& api, auto done) {
         api.register_("u", "f", "l", "p", "p", std::nullopt, doneWhenCalled<LoginResponse>(done));
       }},
      {"recoverPassword", "POST", "Account/TabletPasswordRecovery", R"({"userName":"u"})", false,
       [](BackendApi& api, auto done) { api.recoverPassword("u", doneWhenCalled<EmptyPayload>(done)); }},
      {"getAvailableLectures", "POST", "Tablet/GetAvailableLectures", "{}", true,
       [](BackendApi& api, auto done) {
         api.getAvailableLectures(std::nullopt, std::nullopt, std::nullopt,
                                  doneWhenCalled<MappableArray<LectureResponse>>(done));
       }},
      {"getLecturesWithQuiz", "POST", "Tablet/GetLecturesWithQuiz", R"({"name":"Bio","pageNumber":2,"pageSize":20})",
       true,
       [](BackendApi& api, auto done) {
         api.getLecturesWithQuiz("Bio", 2, 20, doneWhenCalled<MappableArray<LectureResponse>>(done));
       }},
      {"addLectures", "POST", "Tablet/AddLectures", "[3,-1,17]", true,
       [](BackendApi& api, auto done) { api.addLectures({3, -1, 17}, doneWhenCalled<EmptyPayload>(done)); }},
      {"deleteLectures", "POST", "Tablet/DeleteLectures", "[]", true,
       [](BackendApi& api, auto done) { api.deleteLectures({}, doneWhenCalled<EmptyPayload>(done)); }},
      {"getCurriculums", "POST", "Tablet/GetCurriculums", R"({"lectureId":7})", true,
       [](BackendApi& api, auto done) {
         api.getCurriculums(7, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                            doneWhenCalled<MappableArray<CurriculumResponse>>(done));
       }},
      {"getDocuments", "POST", "Tablet/GetDocuments", R"({"curriculumId":8})", true,
       [](BackendApi& api, auto done) {
         api.getDocuments(8, std::nullopt, std::nullopt, std::nullopt,
                          doneWhenCalled<MappableArray<DocumentResponse>>(done));
       }},
      {"getQuizes", "POST", "Tablet/GetQuizes", R"({"lectureId":3})", true,
       [](BackendApi& api, auto done) {
         api.getQuizes(std::nullopt, 3, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                       doneWhenCalled<MappableArray<QuizResponse>>(done));
       }},
      {"getQuizResults", "POST", "Tablet/GetQuizResults", R"({"quizId":1,"lectureId":2})", true,
       [](BackendApi& api, auto done) {
         api.getQuizResults(1, 2, std::nullopt, doneWhenCalled<MappableArray<QuizResultResponse>>(done));
       }},
      {"saveQuizResults", "POST", "Tablet/SaveQuizResults",
       R"([{"quizId":5,"score":0.75,"time":0,"answersScore":"1.0000;0.5000","maxScore":2,"mobileId":0,"questionsId":"12;15"}])",
       true,
       [result](BackendApi& api, auto done) {
         api.saveQuizResults({result}, doneWhenCalled<SaveQuizResultsResponse>(done));
       }},
      {"getBestQuizResults", "POST", "Tablet/GetBestQuizResults", R"({"lectureId":4})", true,
       [](BackendApi& api, auto done) {
         api.getBestQuizResults(4, std::nullopt, std::nullopt, doneWhenCalled<MappableArray<QuizResultResponse>>(done));
       }},
      {"getAchievements", "POST", "Tablet/GetAchievements", R"({"id":6,"entityType":"curriculum"})", true,
       [](BackendApi& api, auto done) {
         api.getAchievements(6, AchievementRequestEntityType::Curriculum,
                             doneWhenCalled<MappableArray<AchievementResponse>>(done));
       }},
      {"getStudentAchievements", "POST", "Tablet/GetStudentAchievements", "{}", true,
       [](BackendApi& api, auto done) {
         api.getStudentAchievements(std::nullopt, std::nullopt, std::nullopt,
                                    doneWhenCalled<MappableArray<AchievementResponse>>(done));
       }},
      {"getUserProfile", "GET", "Tablet/GetUserProfile", std::nullopt, true,
       [](BackendApi& api, auto done) { api.getUserProfile(doneWhenCalled<UserProfileResponse>(done)); }},
      {"getSchools", "GET", "Tablet/GetSchools", std::nullopt, false,
       [](BackendApi& api, auto done) { api.getSchools(doneWhenCalled<MappableArray<SchoolResponse>>(done)); }},
      {"getNews", "POST", "Tablet/GetNews", R"({"searchText":"exam"})", true,
       [](BackendApi& api, auto done) {
         api.getNews(std::nullopt, "exam", doneWhenCalled<MappableArray<NewsResponse>>(done));
       }},
  };
}

class BackendApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    coordinator->setAuthenticationManager(auth);
    api->setTransferCoordinator(coordinator);
    XCGLogger::defaultInstance().setSink([](XCGLogger::LogLevel, const std::string&, const std::string&) {});
  }
  void TearDown() override { XCGLogger::defaultInstance().setSink(nullptr); }

  // Makes the call and waits for its completion; the request it sent.
  RecordedRequest make(const Call& call) {
    bool done = false;
    const auto before = server.requestCount();
    call.make(*api, [&] { done = true; });
    EXPECT_FALSE(done) << call.name;
    EXPECT_TRUE(time.runUntil([&] { return done; })) << call.name;
    EXPECT_EQ(server.requestCount(), before + 1) << call.name;
    return server.lastRequest().value_or(RecordedRequest{});
  }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<Manager> client = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
  std::shared_ptr<TransferCoordinator> coordinator = std::make_shared<TransferCoordinator>(client);
  std::shared_ptr<FakeAuthentication> auth = std::make_shared<FakeAuthentication>();
  std::shared_ptr<BackendApi> api = std::make_shared<BackendApi>(server.url("BrevantTest/"));
};

}  // namespace

TEST_F(BackendApiTest, EveryJsonCallSendsItsPathMethodBodyAndAuthorization) {
  struct SignIn {
    std::optional<AuthenticationType> type;
    std::optional<std::string> bearer, provider;
  };
  const std::vector<SignIn> states = {
      {std::nullopt, std::nullopt, std::nullopt},
      {AuthenticationType::Basic, "Bearer acc", "basic"},
      {AuthenticationType::Facebook, "Bearer fbt", "facebook"},
      {AuthenticationType::Zedodo, "Bearer zed", "zedodo"},
  };
  auth->access = "acc";
  auth->fb = "fbt";
  auth->zedodo = "zed";
  const auto calls = jsonCalls();
  ASSERT_EQ(calls.size(), 23u);
  for (const auto& state : states) {
    auth->type = state.type;
    for (const auto& call : calls) {
      const std::string label = call.name + " signed in as " + std::to_string(state.type ? int(*state.type) : -1);
      const auto sent = make(call);
      EXPECT_EQ(sent.method, call.method) << label;
      EXPECT_EQ(sent.path, "/BrevantTest/" + call.path) << label;
      EXPECT_EQ(sent.query, "") << label;
      EXPECT_EQ(sent.header("Content-Type"), "application/json; charset=utf-8") << label;
      if (call.body) {
        EXPECT_EQ(json::parse(sent.body, nullptr, false), json::parse(*call.body)) << label << ": " << sent.body;
      } else {
        EXPECT_EQ(sent.body, "") << label;
      }
      const bool withAuth = call.authorized && state.type;
      EXPECT_EQ(sent.header("Authorization"), withAuth ? state.bearer : std::nullopt) << label;
      EXPECT_EQ(sent.header("Authorization-Provider"), withAuth ? state.provider : std::nullopt) << label;
    }
  }
  EXPECT_EQ(auth->logouts, 0);
}

TEST_F(BackendApiTest, DownloadsAndTheUploadGoToTheirPaths) {
  auth->type = AuthenticationType::Facebook;
  auth->fb = "fbt";
  server.reply("GET", "/BrevantTest/Tablet/GetDocument", {.body = "doc"});
  server.reply("GET", "/BrevantTest/pictures/p.png", {.body = "png"});

  std::vector<std::optional<Data>> downloads;
  auto collect = [&](std::optional<Data> data, std::optional<NSError>) { downloads.push_back(std::move(data)); };
  api->downloadDocument("12&x=1", collect);
  ASSERT_TRUE(time.runUntil([&] { return downloads.size() == 1; }));
  auto sent = server.lastRequest();
  EXPECT_EQ(sent->method, "GET");
  EXPECT_EQ(sent->path, "/BrevantTest/Tablet/GetDocument");
  EXPECT_EQ(sent->query, "p=~12&x=1");
  EXPECT_FALSE(sent->hasHeader("Authorization"));
  EXPECT_EQ(downloads[0], Data::fromString("doc"));

  api->downloadData("pictures/p.png", collect);
  ASSERT_TRUE(time.runUntil([&] { return downloads.size() == 2; }));
  EXPECT_EQ(server.lastRequest()->path, "/BrevantTest/pictures/p.png");
  EXPECT_EQ(downloads[1], Data::fromString("png"));

  // A reference that makes no URL fails later, unsent.
  std::optional<NSError> error;
  api->downloadDocument("a b", [&](std::optional<Data> data, std::optional<NSError> e) {
    downloads.push_back(std::move(data));
    error = std::move(e);
  });
  EXPECT_EQ(downloads.size(), 2u);
  ASSERT_TRUE(time.runUntil([&] { return downloads.size() == 3; }));
  EXPECT_TRUE(error);
  EXPECT_EQ(server.requestCount(), 2u);

  bool uploaded = false;
  api->uploadProfilePicture(Data::fromString("img"), "PNG", [&] { uploaded = true; }, [](auto) {}, [](auto) {});
  ASSERT_TRUE(time.runUntil([&] { return uploaded; }));
  sent = server.lastRequest();
  EXPECT_EQ(sent->method, "POST");
  EXPECT_EQ(sent->path, "/BrevantTest/Account/TabletUploadProfilePicture");
  EXPECT_EQ(sent->header("Authorization"), "Bearer fbt");
  ASSERT_EQ(sent->parts.size(), 1u);
  EXPECT_EQ(sent->parts[0].filename, "profilePic.PNG");
}

TEST_F(BackendApiTest, RepliesReachTheCallerUnchangedAndCallsWithoutCompletionAreStillMade) {
  server.reply("POST", "/BrevantTest/Account/TabletLogin", {.body = "<html>not json</html>"});
  int calls = 0;
  api->login("u", "p", [&](std::optional<LoginResponse> reply, std::optional<TransferError<ErrorResponse>> error) {
    ++calls;
    EXPECT_FALSE(reply);
    EXPECT_FALSE(error);
  });
  ASSERT_TRUE(time.runUntil([&] { return calls == 1; }));

  server.reply("POST", "/BrevantTest/Tablet/GetQuizes", {.status = 403, .body = R"({"errorMessage":"no"})"});
  api->getQuizes(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                 [&](auto reply, auto error) {
                   ++calls;
                   EXPECT_FALSE(reply);
                   ASSERT_TRUE(error);
                   EXPECT_EQ(error->statusCode, 403);
                   EXPECT_EQ(error->response->message, "no");
                 });
  ASSERT_TRUE(time.runUntil([&] { return calls == 2; }));

  api->recoverPassword("u");
  api->getSchools();
  EXPECT_TRUE(server.waitForRequestCount(4));
}

TEST_F(BackendApiTest, UrlsAreTheBaseFollowedDirectlyByThePath) {
  BackendApi fixed("https://h.example/BrevantTest/");
  EXPECT_EQ(fixed.buildUrl(""), "https://h.example/BrevantTest/");
  EXPECT_EQ(fixed.buildUrl("Tablet/GetNews"), "https://h.example/BrevantTest/Tablet/GetNews");
  EXPECT_EQ(fixed.buildUrl("/x"), "https://h.example/BrevantTest//x");
  EXPECT_EQ(fixed.buildUrl("Tablet/GetDocument?p=~a b&c"), "https://h.example/BrevantTest/Tablet/GetDocument?p=~a b&c");

  const char* previous = std::getenv(BackendApi::kBackendUrlVariable);
  const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
  unsetenv(BackendApi::kBackendUrlVariable);
  EXPECT_EQ(BackendApi().backendUrl(), "https://backend.dorvale.com/BrevantTest/");
  setenv(BackendApi::kBackendUrlVariable, "", 1);
  EXPECT_EQ(BackendApi().backendUrl(), "https://backend.dorvale.com/BrevantTest/");
  setenv(BackendApi::kBackendUrlVariable, "http://127.0.0.1:8080/BrevantTest/", 1);
  EXPECT_EQ(BackendApi().backendUrl(), "http://127.0.0.1:8080/BrevantTest/");
  setenv(BackendApi::kBackendUrlVariable, "http://127.0.0.1:8080/BrevantTest", 1);
  EXPECT_EQ(BackendApi().buildUrl("Tablet/GetNews"), "http://127.0.0.1:8080/BrevantTest/Tablet/GetNews");
  if (saved) {
    setenv(BackendApi::kBackendUrlVariable, saved->c_str(), 1);
  } else {
    unsetenv(BackendApi::kBackendUrlVariable);
  }
}
