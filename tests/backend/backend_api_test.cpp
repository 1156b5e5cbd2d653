#include "backend/backend_api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "backend/fake_authentication.h"
#include "model/dorvale_date_transform.h"
#include "support/scoped_env.h"

namespace {

using json = nlohmann::json;
using Done = std::function<void()>;
using std::nullopt;

// One backend call as the catalogue gives it: method, path after the base URL, JSON body (absent:
// zero bytes), whether it is authorized, and how to make it (`done` runs from its completion).
struct Call {
  std::string method;
  std::string path;
  std::optional<std::string> body;
  bool authorized;
  std::function<void(BackendApi&, Done done)> make;
};

template <class T>
BackendApi::Completion<T> cb(Done done) {
  return [done](std::optional<T>, std::optional<TransferError<ErrorResponse>>) { done(); };
}
template <class T>
using List = MappableArray<T>;

// Every argument of a call is given a value of its own, so a key, or two arguments swapped, shows
// in the body.
std::vector<Call> jsonCalls() {
  const Date date{467121900};
  const std::string dateText = *DorvaleDateTransform().transformToJSON(date);
  SaveQuizResultsRequest result;
  result.quizId = 5;
  result.score = 0.75;
  result.time = 0;
  result.answersScore = "1.0000;0.5000";
  result.maxScore = 2;
  result.mobileId = 0;
  result.questionsId = "12;15";
  result.date = date;
  result.quizLevelId = 3;
  // clang-format off
  return {
    {"POST", "Account/TabletLogin", R"({"userName":"ann@x.org","password":"pw"})", false,
     [](BackendApi& a, Done d) { a.login("ann@x.org", "pw", cb<LoginResponse>(d)); }},
    {"POST", "Account/TabletChangePassword", R"({"oldPassword":"o","newPassword":"n"})", true,
     [](BackendApi& a, Done d) { a.changePassword("o", "n", cb<LoginResponse>(d)); }},
    {"POST", "Account/TabletExternalRegister",
     R"({"userName":"u","firstName":"f","lastName":"l","token":"t","provider":"zedodo","schoolId":[4,9]})", false,
     [](BackendApi& a, Done d) {
       a.externalRegister("u", "f", "l", "t", "zedodo", std::vector<BackendApi::Id>{4, 9}, cb<LoginResponse>(d)); }},
    {"POST", "Account/TabletAddPassword", R"({"newPassword":"n"})", true,
     [](BackendApi& a, Done d) { a.addPassword("n", cb<LoginResponse>(d)); }},
    {"POST", "Account/TabletAddExternalProfile", R"({"provider":"facebook","token":"t"})", true,
     [](BackendApi& a, Done d) { a.addExternalProfile("facebook", "t", cb<LoginResponse>(d)); }},
    // Same path and body as adding; only the reply type differs.
    {"POST", "Account/TabletAddExternalProfile", R"({"provider":"facebook","token":"t"})", true,
     [](BackendApi& a, Done d) { a.modifyExternalProfile("facebook", "t", cb<EmptyPayload>(d)); }},
    {"POST", "Account/TabletRegister",
     R"({"userName":"u","firstName":"f","lastName":"l","password":"p","confirmPassword":"q","schoolId":[3]})", false,
     [](BackendApi& a, Done d) {
       a.register_("u", "f", "l", "p", "q", std::vector<BackendApi::Id>{3}, cb<LoginResponse>(d)); }},
    {"POST", "Account/TabletPasswordRecovery", R"({"userName":"u"})", false,
     [](BackendApi& a, Done d) { a.recoverPassword("u", cb<EmptyPayload>(d)); }},
    {"POST", "Tablet/GetAvailableLectures", "{}", true,
     [](BackendApi& a, Done d) { a.getAvailableLectures(nullopt, nullopt, nullopt, cb<List<LectureResponse>>(d)); }},
    {"POST", "Tablet/GetLecturesWithQuiz", R"({"name":"Bio","pageNumber":2,"pageSize":20})", true,
     [](BackendApi& a, Done d) { a.getLecturesWithQuiz("Bio", 2, 20, cb<List<LectureResponse>>(d)); }},
    {"POST", "Tablet/AddLectures", "[3,-1,17]", true,
     [](BackendApi& a, Done d) { a.addLectures({3, -1, 17}, cb<EmptyPayload>(d)); }},
    {"POST", "Tablet/DeleteLectures", "[]", true,
     [](BackendApi& a, Done d) { a.deleteLectures({}, cb<EmptyPayload>(d)); }},
    {"POST", "Tablet/GetCurriculums",
     R"({"lectureId":7,"name":"n","curriculumId":3,"all":true,"pageNumber":1,"pageSize":2})", true,
     [](BackendApi& a, Done d) { a.getCurriculums(7, "n", 3, true, 1, 2, cb<List<CurriculumResponse>>(d)); }},
    {"POST", "Tablet/GetDocuments", R"({"curriculumId":8,"name":"a","pageNumber":1,"pageSize":2})", true,
     [](BackendApi& a, Done d) { a.getDocuments(8, "a", 1, 2, cb<List<DocumentResponse>>(d)); }},
    {"POST", "Tablet/GetQuizes",
     R"({"quizId":1,"lectureId":5,"curriculumId":4,"all":false,"name":"n","pageNumber":2,"pageSize":3})", true,
     [](BackendApi& a, Done d) { a.getQuizes(1, 5, 4, false, "n", 2, 3, cb<List<QuizResponse>>(d)); }},
    {"POST", "Tablet/GetQuizResults", R"({"quizId":1,"lectureId":2,"date":")" + dateText + "\"}", true,
     [date](BackendApi& a, Done d) { a.getQuizResults(1, 2, date, cb<List<QuizResultResponse>>(d)); }},
    {"POST", "Tablet/SaveQuizResults",
     R"([{"quizId":5,"score":0.75,"time":0,"answersScore":"1.0000;0.5000","maxScore":2,"mobileId":0,)"
     R"("questionsId":"12;15","quizLevelId":3,"date":")" + dateText + "\"}]",
     true, [result](BackendApi& a, Done d) { a.saveQuizResults({result}, cb<SaveQuizResultsResponse>(d)); }},
    {"POST", "Tablet/GetBestQuizResults", R"({"lectureId":4,"curriculumId":7,"quizId":1})", true,
     [](BackendApi& a, Done d) { a.getBestQuizResults(4, 7, 1, cb<List<QuizResultResponse>>(d)); }},
    {"POST", "Tablet/GetAchievements", R"({"id":6,"entityType":"curriculum"})", true,
     [](BackendApi& a, Done d) {
       a.getAchievements(6, AchievementRequestEntityType::Curriculum, cb<List<AchievementResponse>>(d)); }},
    {"POST", "Tablet/GetStudentAchievements", R"({"lectureId":1,"pageNumber":2,"pageSize":3})", true,
     [](BackendApi& a, Done d) { a.getStudentAchievements(1, 2, 3, cb<List<AchievementResponse>>(d)); }},
    {"GET", "Tablet/GetUserProfile", nullopt, true,
     [](BackendApi& a, Done d) { a.getUserProfile(cb<UserProfileResponse>(d)); }},
    {"GET", "Tablet/GetSchools", nullopt, false,
     [](BackendApi& a, Done d) { a.getSchools(cb<List<SchoolResponse>>(d)); }},
    {"POST", "Tablet/GetNews", R"({"lectureId":2,"searchText":"exam"})", true,
     [](BackendApi& a, Done d) { a.getNews(2, "exam", cb<List<NewsResponse>>(d)); }},
  };
  // clang-format on
}

class BackendApiTest : public CoordinatorTest {
 protected:
  void SetUp() override {
    CoordinatorTest::SetUp();
    api->setTransferCoordinator(coordinator);
  }
  std::shared_ptr<BackendApi> api = std::make_shared<BackendApi>(server.url("BrevantTest/"));
};

}  // namespace

TEST_F(BackendApiTest, EveryJsonCallSendsItsPathMethodBodyAndAuthorization) {
  struct SignIn {
    std::optional<AuthenticationType> type;
    std::optional<std::string> bearer, provider;
  };
  const std::vector<SignIn> states = {{nullopt, nullopt, nullopt},
                                      {AuthenticationType::Basic, "Bearer acc", "basic"},
                                      {AuthenticationType::Facebook, "Bearer fbt", "facebook"},
                                      {AuthenticationType::Zedodo, "Bearer zed", "zedodo"}};
  auth->access = "acc";
  auth->fb = "fbt";
  auth->zedodo = "zed";
  const auto calls = jsonCalls();
  ASSERT_EQ(calls.size(), 23u);
  for (const auto& state : states) {
    auth->type = state.type;
    const int refreshesBefore = auth->refreshes;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const Call& call = calls[i];
      const std::string label = "call " + std::to_string(i) + " " + call.path + ", signed in as " +
                                std::to_string(state.type ? int(*state.type) : -1);
      bool done = false;
      call.make(*api, [&] { done = true; });
      EXPECT_FALSE(done) << label;
      ASSERT_TRUE(time.runUntil([&] { return done; })) << label;
      ASSERT_EQ(server.requestCount(), i + 1) << label;
      const auto sent = *server.lastRequest();
      const bool withAuth = call.authorized && state.type;
      // Bodies compare as parsed JSON, written back with sorted keys.
      EXPECT_EQ(std::tuple(sent.method, sent.path, sent.query, sent.header("Content-Type"),
                           sent.body.empty() ? "no body" : json::parse(sent.body, nullptr, false).dump(),
                           sent.header("Authorization"), sent.header("Authorization-Provider")),
                std::tuple(call.method, "/BrevantTest/" + call.path, "", "application/json; charset=utf-8",
                           call.body ? json::parse(*call.body).dump() : "no body", withAuth ? state.bearer : nullopt,
                           withAuth ? state.provider : nullopt))
          << label << ": " << sent.body;
    }
    server.clearRequests();
    // Under Zedodo every authorized call asks for a fresh token, and no other call does.
    const auto authorized = std::count_if(calls.begin(), calls.end(), [](const Call& c) { return c.authorized; });
    EXPECT_EQ(auth->refreshes - refreshesBefore, state.type == AuthenticationType::Zedodo ? authorized : 0);
  }
  EXPECT_EQ(auth->logouts, 0);
}

TEST_F(BackendApiTest, DownloadsAndTheUploadGoToTheirPathsAndCallsWithoutCompletionAreStillMade) {
  auth->type = AuthenticationType::Facebook;
  auth->fb = "fbt";
  server.reply("GET", "/BrevantTest/Tablet/GetDocument", {.body = "doc"});
  std::vector<std::optional<Data>> downloads;
  auto collect = [&](std::optional<Data> data, std::optional<NSError>) { downloads.push_back(std::move(data)); };
  // The reference is appended unchanged: "&x=1" ends up in the query.
  api->downloadDocument("12&x=1", collect);
  ASSERT_TRUE(time.runUntil([&] { return downloads.size() == 1; }));
  EXPECT_EQ(std::tuple(server.lastRequest()->path, server.lastRequest()->query, downloads[0]),
            std::tuple("/BrevantTest/Tablet/GetDocument", "p=~12&x=1", Data::fromString("doc")));
  api->downloadData("pictures/p.png", collect);
  ASSERT_TRUE(time.runUntil([&] { return downloads.size() == 2; }));
  EXPECT_EQ(server.lastRequest()->path, "/BrevantTest/pictures/p.png");

  bool uploaded = false;
  api->uploadProfilePicture(
      Data::fromString("img"), "PNG", [&] { uploaded = true; }, [](auto) {}, [](auto) {});
  ASSERT_TRUE(time.runUntil([&] { return uploaded; }));
  EXPECT_EQ(std::tuple(server.lastRequest()->path, server.lastRequest()->header("Authorization")),
            std::tuple("/BrevantTest/Account/TabletUploadProfilePicture", "Bearer fbt"));

  api->recoverPassword("u");
  api->getSchools();
  EXPECT_TRUE(server.waitForRequestCount(5));
}

TEST_F(BackendApiTest, UrlsAreTheBaseFollowedDirectlyByThePath) {
  BackendApi fixed("https://h.example/BrevantTest/");
  EXPECT_EQ(fixed.buildUrl(""), "https://h.example/BrevantTest/");
  EXPECT_EQ(fixed.buildUrl("Tablet/GetNews"), "https://h.example/BrevantTest/Tablet/GetNews");
  EXPECT_EQ(fixed.buildUrl("/x"), "https://h.example/BrevantTest//x");
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv env(BackendApi::kBackendUrlVariable, unset);
    EXPECT_EQ(BackendApi().backendUrl(), "https://backend.dorvale.com/BrevantTest/");
  }
  ScopedEnv env(BackendApi::kBackendUrlVariable, "http://127.0.0.1:8080/BrevantTest");
  EXPECT_EQ(BackendApi().buildUrl("Tablet/GetNews"), "http://127.0.0.1:8080/BrevantTest/Tablet/GetNews");
}
