// The sample backend's answers, decoded with the client's own records and models.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "model/achievement.h"
#include "model/attachment.h"
#include "model/curriculum.h"
#include "model/empty_payload.h"
#include "model/error_response.h"
#include "model/external_register_request.h"
#include "model/lecture.h"
#include "model/login_request.h"
#include "model/login_response.h"
#include "model/mappable_array.h"
#include "model/model_url_builder.h"
#include "model/news.h"
#include "model/quiz.h"
#include "model/quiz_question.h"
#include "model/quiz_result_response.h"
#include "model/register_request.h"
#include "model/save_quiz_results_request.h"
#include "model/save_quiz_results_response.h"
#include "model/school_response.h"
#include "model/user.h"
#include "model/user_profile_response.h"
#include "sample_backend_process.h"
#include "store.h"
#include "support/temp_dir.h"

namespace {

struct Answer {
  int status = 0;
  std::string body;
  std::string contentType;
};

struct Auth {
  std::string token;
  std::string provider = "basic";
};

class SampleBackendTest : public testing::Test {
 protected:
  void SetUp() override { start(); }
  void TearDown() override { ModelUrlBuilder::install(nullptr); }

  void start() {
    backend_ = std::make_unique<SampleBackendProcess>(dir_.str());
    ASSERT_GT(backend_->port(), 0);
    ModelUrlBuilder::install([base = backend_->baseUrl()](const std::string& path) { return base + path; });
  }
  void restart() {
    backend_.reset();
    start();
  }

  // `path` below the base path, or an absolute URL the backend handed out.
  Answer call(const std::string& method, std::string path, const std::string& body = "",
              const std::optional<Auth>& auth = std::nullopt) {
    const std::string base = backend_->baseUrl();
    path = path.rfind(base, 0) == 0 ? "/BrevantTest/" + path.substr(base.size()) : "/BrevantTest/" + path;
    httplib::Client client("127.0.0.1", backend_->port());
    httplib::Headers headers;
    if (auth) headers = {{"Authorization", "Bearer " + auth->token}, {"Authorization-Provider", auth->provider}};
    auto result = method == "GET" ? client.Get(path.c_str(), headers)
                                  : client.Post(path.c_str(), headers, body, "application/json; charset=utf-8");
    if (!result) return {};
    return {result->status, result->body, result->get_header_value("Content-Type")};
  }
  template <class Reply>
  auto post(const std::string& path, const std::string& body, const Auth& auth) {
    auto answer = call("POST", path, body, auth);
    EXPECT_EQ(answer.status, 200) << path << ": " << answer.body;
    return Reply::decode(answer.body);
  }
  Auth signIn(const std::string& email = "demo@example.com", const std::string& password = "demo-pass") {
    LoginRequest request;
    request.userName = email;
    request.password = password;
    auto reply = LoginResponse::decode(call("POST", "Account/TabletLogin", request.encode()).body);
    EXPECT_TRUE(reply && reply->token) << email;
    return {reply && reply->token ? *reply->token : ""};
  }
  std::shared_ptr<User> profile(const Auth& auth) {
    auto answer = call("GET", "Tablet/GetUserProfile", "", auth);
    auto record = UserProfileResponse::decode(answer.body);
    return record ? User::init(*record) : nullptr;
  }
  void expectServed(const std::optional<std::string>& url, const std::string& contentType) {
    ASSERT_TRUE(url);
    auto answer = call("GET", *url);
    EXPECT_EQ(answer.status, 200) << *url;
    EXPECT_EQ(answer.contentType.substr(0, contentType.size()), contentType) << *url;
    EXPECT_FALSE(answer.body.empty()) << *url;
  }

  TempDir dir_{"sample-backend"};
  std::unique_ptr<SampleBackendProcess> backend_;
};

TEST_F(SampleBackendTest, CallsForASignedInUserAnswer401WithAnErrorBodyWithoutAKnownToken) {
  const char* const calls[][2] = {{"GET", "Tablet/GetUserProfile"},
                                  {"POST", "Tablet/GetAvailableLectures"},
                                  {"POST", "Tablet/GetLecturesWithQuiz"},
                                  {"POST", "Tablet/GetCurriculums"},
                                  {"POST", "Tablet/GetDocuments"},
                                  {"POST", "Tablet/GetQuizes"},
                                  {"POST", "Tablet/SaveQuizResults"},
                                  {"POST", "Tablet/GetQuizResults"},
                                  {"POST", "Tablet/GetBestQuizResults"},
                                  {"POST", "Tablet/GetAchievements"},
                                  {"POST", "Tablet/GetStudentAchievements"},
                                  {"POST", "Tablet/GetNews"},
                                  {"POST", "Tablet/AddLectures"},
                                  {"POST", "Tablet/DeleteLectures"},
                                  {"POST", "Account/TabletChangePassword"},
                                  {"POST", "Account/TabletAddPassword"},
                                  {"POST", "Account/TabletAddExternalProfile"},
                                  {"POST", "Account/TabletUploadProfilePicture"}};
  for (const auto& [method, path] : calls) {
    for (const auto& auth :
         {std::optional<Auth>(), std::optional(Auth{"made-up"}), std::optional(Auth{"made-up", "zedodo"})}) {
      auto answer = call(method, path, "{}", auth);
      EXPECT_EQ(answer.status, 401) << method << " " << path;
      auto error = ErrorResponse::decode(answer.body);
      EXPECT_TRUE(error && error->message && error->code) << path << ": " << answer.body;
    }
  }
}

TEST_F(SampleBackendTest, TheDemoStudentsContentBuildsEveryModelOfTheClient) {
  const Auth demo = signIn();
  ASSERT_TRUE(profile(demo));
  EXPECT_EQ(MappableArray<SchoolResponse>::decode(call("GET", "Tablet/GetSchools").body).size(), 3u);

  auto lectures = post<MappableArray<LectureResponse>>("Tablet/GetAvailableLectures", "{}", demo);
  ASSERT_GE(lectures.size(), 3u);
  EXPECT_LT(post<MappableArray<LectureResponse>>("Tablet/GetLecturesWithQuiz", "{}", demo).size(), lectures.size());
  std::set<QuizQuestionType> kinds;
  std::set<QuizQuestionDataType> materials;
  for (const auto& record : lectures) {
    auto lecture = Lecture::init(record);
    ASSERT_TRUE(lecture && lecture->colors()) << *record.name;
    expectServed(lecture->pictureUrl(), "image/png");
    const std::string lectureId = std::to_string(lecture->id());
    for (const auto& curriculumRecord : post<MappableArray<CurriculumResponse>>(
             "Tablet/GetCurriculums", "{\"lectureId\":" + lectureId + ",\"all\":true}", demo)) {
      auto curriculum = Curriculum::init(curriculumRecord);
      ASSERT_TRUE(curriculum && curriculum->content());
      for (const auto& document : post<MappableArray<DocumentResponse>>(
               "Tablet/GetDocuments", "{\"curriculumId\":" + std::to_string(curriculum->id()) + "}", demo)) {
        auto attachment = Attachment::init(document);
        ASSERT_TRUE(attachment);
        expectServed(attachment->url(), "text/plain");
      }
    }
    for (const auto& listed :
         post<MappableArray<QuizResponse>>("Tablet/GetQuizes", "{\"lectureId\":" + lectureId + "}", demo)) {
      auto single = post<MappableArray<QuizResponse>>(
          "Tablet/GetQuizes", "{\"quizId\":" + std::to_string(*listed.id) + ",\"all\":true}", demo);
      ASSERT_EQ(single.size(), 1u);
      ASSERT_TRUE(Quiz::init(single[0]) && single[0].question);
      for (const auto& questionRecord : *single[0].question) {
        auto question = QuizQuestion::init(questionRecord);
        ASSERT_TRUE(question && !question->answer().empty()) << *questionRecord.text;
        kinds.insert(question->type());
        materials.insert(question->dataType());
        const char* const types[] = {"audio/wav", "video/mp4", "", "image/png"};
        if (question->dataType() != QuizQuestionDataType::text)
          expectServed(question->data(), types[static_cast<int>(question->dataType())]);
      }
    }
  }
  EXPECT_EQ(kinds.size(), 4u);
  EXPECT_EQ(materials.size(), 4u);

  auto news = post<MappableArray<NewsResponse>>("Tablet/GetNews", "{}", demo);
  EXPECT_GE(news.size(), 3u);
  for (const auto& record : news) EXPECT_TRUE(News::init(record)) << *record.id;
  auto achievements = post<MappableArray<AchievementResponse>>("Tablet/GetAchievements", "{}", demo);
  EXPECT_GE(achievements.size(), 3u);
  for (const auto& record : achievements) EXPECT_TRUE(Achievement::init(record)) << *record.id;

  post<EmptyPayload>("Tablet/DeleteLectures", "[1]", demo);
  EXPECT_EQ(post<MappableArray<LectureResponse>>("Tablet/GetAvailableLectures", "{}", demo).size(),
            lectures.size() - 1);
  post<EmptyPayload>("Tablet/AddLectures", "[1]", demo);
  EXPECT_EQ(post<MappableArray<LectureResponse>>("Tablet/GetAvailableLectures", "{}", demo).size(), lectures.size());
}

TEST_F(SampleBackendTest, APasswordChangeEndsTheOldTokenAndAPasswordCanBeAddedOnce) {
  const Auth old = signIn();
  auto changed = post<LoginResponse>("Account/TabletChangePassword",
                                     "{\"oldPassword\":\"demo-pass\",\"newPassword\":\"new-pass\"}", old);
  ASSERT_TRUE(changed && changed->token);
  EXPECT_EQ(call("GET", "Tablet/GetUserProfile", "", old).status, 401);
  EXPECT_TRUE(profile({*changed->token}));
  EXPECT_TRUE(profile(signIn("demo@example.com", "new-pass")));
  EXPECT_EQ(call("POST", "Account/TabletAddPassword", "{\"newPassword\":\"another\"}", Auth{*changed->token}).status,
            409);
}

TEST_F(SampleBackendTest, TheBannerOffersTheDemoPasswordOnlyWhileItHoldsAndABusyDirectoryHasItsStatus) {
  EXPECT_EQ(backend_->demo(), "demo@example.com demo-pass");
  SampleBackendProcess second(dir_.str());
  EXPECT_EQ(second.port(), 0);
  const int status = second.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;

  post<LoginResponse>("Account/TabletChangePassword", R"({"oldPassword":"demo-pass","newPassword":"new-pass"})",
                      signIn());
  restart();
  EXPECT_EQ(backend_->demo(), "demo@example.com");

  // Data from before changes were recorded: checked once, then known.
  const TempDir older("sample-backend-older");
  const PasswordHash changed = PasswordHash::of("changed-1", 10000);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((older.path() / "sample_backend.sqlite3").c_str(), &db), SQLITE_OK);
  const std::string sql =
      "CREATE TABLE accounts(id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE COLLATE NOCASE, "
      "first_name TEXT NOT NULL, last_name TEXT NOT NULL, salt TEXT, password_hash TEXT);"
      "INSERT INTO accounts VALUES(1, 'demo@example.com', 'Alex', 'Morgan', '" +
      changed.salt + "', '" + changed.hash + "');";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(SampleBackendProcess(older.str()).demo(), "demo@example.com");
  EXPECT_EQ(Store(older.path() / "sample_backend.sqlite3").passwordChanged(1), true);
}

TEST_F(SampleBackendTest, SavedResultsAccountsAndTokensSurviveARestart) {
  const Auth demo = signIn();
  SaveQuizResultsRequest result;
  result.quizId = 102;
  result.score = 3.0;
  result.time = 0;
  result.answersScore = "2.0000;1.0000";
  result.maxScore = 3;
  result.mobileId = 0;
  result.date = Date::now();
  result.questionsId = "10201;10202";
  result.quizLevelId = 1;
  auto saved = post<SaveQuizResultsResponse>("Tablet/SaveQuizResults",
                                             MappableArray<SaveQuizResultsRequest>({result}).encode(), demo);
  ASSERT_TRUE(saved && saved->quizResults && saved->achievements);
  ASSERT_EQ(saved->quizResults->size(), 1u);
  EXPECT_EQ(saved->quizResults->at(0).result, 5);  // full marks: the best grade
  std::set<std::string> earned;
  for (const auto& achievement : *saved->achievements) earned.insert(*achievement.name);
  EXPECT_EQ(earned, (std::set<std::string>{"First steps", "Full marks"}));

  RegisterRequest registration;
  registration.userName = "new.student@example.com";
  registration.firstName = "Robin";
  registration.lastName = "Vale";
  registration.password = registration.confirmPassword = "secret-1";
  registration.schools = std::vector<std::int64_t>{2, 3};
  ASSERT_EQ(call("POST", "Account/TabletRegister", registration.encode()).status, 200);

  restart();
  auto best = post<MappableArray<QuizResultResponse>>("Tablet/GetBestQuizResults", "{\"curriculumId\":12}", demo);
  ASSERT_EQ(best.size(), 1u);
  EXPECT_EQ(best[0].quizId, 102);
  EXPECT_EQ(best[0].score, 3.0);
  EXPECT_EQ(best[0].maxScore, 3);
  EXPECT_TRUE(best[0].date);
  EXPECT_EQ(post<MappableArray<QuizResultResponse>>("Tablet/GetQuizResults", "{\"quizId\":102}", demo).size(), 1u);
  EXPECT_EQ(post<MappableArray<AchievementResponse>>("Tablet/GetStudentAchievements", "{}", demo).size(), 2u);
  auto student = profile(signIn("New.Student@example.com", "secret-1"));
  ASSERT_TRUE(student);
  EXPECT_EQ(student->schools()->size(), 2u);
}

// A read of the store from another process while the backend serves (the README offers --dump)
// must find the backend's locks: taking itself for the last user, it would checkpoint and delete
// the journals the backend still writes to, and saves answered 200 would be lost or corrupt.
TEST_F(SampleBackendTest, AnOutsideReadOfTheStoreLeavesTheServingBackendItsLocksJournalsAndSaves) {
  const Auth demo = signIn();
  const std::string store = dir_.str() + "/sample_backend.sqlite3";
  int saves = 0, answered = 0;
  const auto save = [&] {
    ++saves;
    const auto body = fmt::format(R"([{{"quizId":102,"score":{},"maxScore":1000}}])", saves);
    answered += call("POST", "Tablet/SaveQuizResults", body, demo).status == 200;
  };
  for (int i = 0; i < 5; ++i) save();
  EXPECT_EQ(post<MappableArray<QuizResultResponse>>("Tablet/GetQuizResults", "{}", demo).size(), 5u);
  struct stat st {};
  ASSERT_EQ(::stat(store.c_str(), &st), 0);
  // "1: POSIX  ADVISORY  READ 4242 08:01:123456 1073741826 1073741826"
  int held = 0;
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
    for (std::size_t i = 1; i < fields.size(); ++i) {
      const std::string inode = ":" + std::to_string(st.st_ino);
      held += fields[i - 1] == std::to_string(backend_->pid()) && fields[i].size() > inode.size() &&
              fields[i].ends_with(inode);
    }
  }
  EXPECT_GT(held, 0) << "the backend holds no lock on its store";

  const auto dump = runCommand("'" SAMPLE_BACKEND_EXECUTABLE "' --dump --data '" + dir_.str() + "' 2>&1");
  EXPECT_EQ(dump.status, 0) << dump.output;
  EXPECT_TRUE(std::filesystem::exists(store + "-wal") && std::filesystem::exists(store + "-shm"));
  for (int i = 0; i < 20; ++i) save();
  EXPECT_EQ(answered, saves);
  ::kill(backend_->pid(), SIGKILL);
  backend_->stop();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
  std::string integrity, kept;
  const auto text = [](void* into, int, char** values, char**) {
    *static_cast<std::string*>(into) = values[0] ? values[0] : "";
    return 0;
  };
  sqlite3_exec(db, "PRAGMA integrity_check", text, &integrity, nullptr);
  sqlite3_exec(db, "SELECT count(*) || ' ' || sum(score) FROM results", text, &kept, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(integrity, "ok");
  EXPECT_EQ(kept, fmt::format("{} {}.0", saves, saves * (saves + 1) / 2));
}

// Saves into a data directory removed while the backend serves would be answered and then lost:
// it answers none, says why, and stops; started again it makes the directory afresh.
TEST_F(SampleBackendTest, ARemovedDataDirectoryGetsNoSaveAnsweredAndStopsTheBackend) {
  const TempDir logs("sample-backend-errors");
  const std::string errors = (logs.path() / "errors.log").string();
  backend_.reset();
  backend_ = std::make_unique<SampleBackendProcess>(dir_.str(), std::vector<std::string>{}, errors);
  ASSERT_GT(backend_->port(), 0);
  const std::string save = R"([{"quizId":102,"score":1,"maxScore":3}])";
  const Auth demo = signIn();
  EXPECT_EQ(call("POST", "Tablet/SaveQuizResults", save, demo).status, 200);

  const std::string path = std::filesystem::canonical(dir_.path()).string();
  std::filesystem::remove_all(dir_.path());
  const Answer refused = call("POST", "Tablet/SaveQuizResults", save, demo);
  EXPECT_EQ(refused.status, 503) << refused.body;
  const int status = backend_->wait(std::chrono::seconds(10));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  std::ifstream log(errors);
  int naming = 0;
  for (std::string line; std::getline(log, line);) naming += line.find(path) != std::string::npos;
  EXPECT_EQ(naming, 1) << "lines naming " << path;

  backend_ = std::make_unique<SampleBackendProcess>(dir_.str(), std::vector<std::string>{}, errors);
  ASSERT_GT(backend_->port(), 0);
  EXPECT_EQ(call("POST", "Tablet/SaveQuizResults", save, signIn()).status, 200);
}

// Quiz 101 has four questions: the texts the client writes for it are kept, far longer ones are
// refused, and the count of kept results still earns its achievement.
TEST_F(SampleBackendTest, AResultsTextsAreBoundByItsQuizAndTheFifthResultIsCounted) {
  const Auth demo = signIn();
  const auto result = [](const std::string& answersScore, const std::string& questionsId) {
    return fmt::format(R"({{"quizId":101,"score":1,"maxScore":11,"answersScore":"{}","questionsId":"{}"}})",
                       answersScore, questionsId);
  };
  const std::string full = result("100.0000;100.0000;100.0000;100.0000", "10101;10102;10103;10104");
  auto saved = post<SaveQuizResultsResponse>("Tablet/SaveQuizResults", fmt::format("[{0},{0},{0},{0}]", full), demo);
  ASSERT_TRUE(saved && saved->quizResults && saved->achievements);
  ASSERT_EQ(saved->quizResults->size(), 4u);
  EXPECT_EQ(saved->quizResults->at(3).answersScore, "100.0000;100.0000;100.0000;100.0000");
  EXPECT_EQ(saved->achievements->size(), 1u);

  std::string repeated = "10101";
  for (int i = 0; i < 20; ++i) repeated += ";10101";
  for (const auto& overlong : {result(std::string(200, '1'), "10101"), result("1.0000", repeated)}) {
    auto answer = call("POST", "Tablet/SaveQuizResults", "[" + overlong + "]", demo);
    EXPECT_EQ(answer.status, 400) << overlong;
    auto error = ErrorResponse::decode(answer.body);
    ASSERT_TRUE(error && error->message) << answer.body;
    EXPECT_NE(error->message->find("too long"), std::string::npos) << *error->message;
  }

  saved = post<SaveQuizResultsResponse>("Tablet/SaveQuizResults", "[" + full + "]", demo);
  ASSERT_TRUE(saved && saved->achievements);
  ASSERT_EQ(saved->achievements->size(), 1u);
  EXPECT_EQ(saved->achievements->at(0).name, "Keen learner");
}

// The client sends one result a call: a call keeps 100, and one more is refused with the bound.
TEST_F(SampleBackendTest, ACallSavesAtMostAHundredResults) {
  const Auth demo = signIn();
  const auto results = [](int count) {
    std::string body = "[";
    for (int i = 0; i < count; ++i) body += std::string(i ? "," : "") + R"({"quizId":102,"score":1,"maxScore":3})";
    return body + "]";
  };
  auto saved = post<SaveQuizResultsResponse>("Tablet/SaveQuizResults", results(100), demo);
  ASSERT_TRUE(saved && saved->quizResults);
  EXPECT_EQ(saved->quizResults->size(), 100u);

  auto answer = call("POST", "Tablet/SaveQuizResults", results(101), demo);
  EXPECT_EQ(answer.status, 400);
  auto error = ErrorResponse::decode(answer.body);
  ASSERT_TRUE(error && error->message) << answer.body;
  EXPECT_NE(error->message->find("at most 100 results"), std::string::npos) << *error->message;
  EXPECT_EQ(post<MappableArray<QuizResultResponse>>("Tablet/GetQuizResults", "{}", demo).size(), 100u);
}

// Per quiz, the highest share of the points and the latest of equal shares (1 of 2 is 2 of 4, but
// 0.3 of 3 falls short of 0.1 of 1 in doubles), in quiz order, under each filter; checked against
// that rule run over the saved results. Another account's better results stay its own.
TEST_F(SampleBackendTest, TheBestResultOfAQuizIsTheLatestOfItsHighestShare) {
  struct Row {
    std::int64_t quiz;
    double score;
    std::int64_t maxScore;
  };
  const auto save = [this](const std::vector<Row>& rows, const Auth& auth) {
    std::string body = "[";
    for (const auto& row : rows)
      body += fmt::format(R"({}{{"quizId":{},"score":{},"maxScore":{}}})", body.size() > 1 ? "," : "", row.quiz,
                          row.score, row.maxScore);
    auto saved = post<SaveQuizResultsResponse>("Tablet/SaveQuizResults", body + "]", auth);
    EXPECT_TRUE(saved && saved->quizResults && saved->quizResults->size() == rows.size());
    return saved && saved->quizResults ? *saved->quizResults : std::vector<QuizResultResponse>();
  };
  RegisterRequest registration;
  registration.userName = "other.student@example.com";
  registration.firstName = "Robin";
  registration.lastName = "Vale";
  registration.password = registration.confirmPassword = "secret-1";
  registration.schools = std::vector<std::int64_t>{1};
  ASSERT_EQ(call("POST", "Account/TabletRegister", registration.encode()).status, 200);
  const Auth other = signIn("other.student@example.com", "secret-1");
  save({{101, 11, 11}, {301, 1, 1}}, other);

  const Auth demo = signIn();
  const auto saved = save({{101, 1, 2},
                           {101, 2, 4},
                           {101, 3, 11},
                           {101, 2, 4},
                           {101, 1, 2},
                           {102, 3, 3},
                           {102, 1, 3},
                           {201, 0.1, 1},
                           {201, 0.3, 3},
                           {101, 0, 3}},
                          demo);
  ASSERT_EQ(saved.size(), 10u);
  const auto ids = [](const auto& results) {
    std::vector<std::int64_t> list;
    for (const auto& result : results) list.push_back(result.id.value_or(0));
    return list;
  };
  EXPECT_EQ(ids(post<MappableArray<QuizResultResponse>>("Tablet/GetBestQuizResults", "{}", demo)),
            (std::vector<std::int64_t>{*saved[4].id, *saved[5].id, *saved[7].id}));

  // Curriculum and lecture of each quiz, as seeded.
  const std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> place = {
      {101, {11, 1}}, {102, {12, 1}}, {201, {21, 2}}, {301, {31, 3}}};
  for (const char* filter : {"{}", R"({"quizId":101})", R"({"quizId":301})", R"({"quizId":999})",
                             R"({"curriculumId":12})", R"({"curriculumId":21})", R"({"lectureId":1})",
                             R"({"lectureId":2})", R"({"lectureId":3})", R"({"lectureId":1,"quizId":201})"}) {
    const auto request = nlohmann::json::parse(filter);
    const auto wanted = [&request](const char* key, std::int64_t value) {
      return !request.contains(key) || request[key] == value;
    };
    std::map<std::int64_t, QuizResultResponse> best;
    for (const auto& result : saved) {
      const auto [curriculum, lecture] = place.at(*result.quizId);
      if (!wanted("quizId", *result.quizId) || !wanted("curriculumId", curriculum) || !wanted("lectureId", lecture))
        continue;
      const auto found = best.find(*result.quizId);
      if (found == best.end() ||
          *result.score / double(*result.maxScore) >= *found->second.score / double(*found->second.maxScore))
        best[*result.quizId] = result;
    }
    std::vector<QuizResultResponse> expected;
    for (const auto& [quiz, result] : best) expected.push_back(result);
    const auto answer = post<MappableArray<QuizResultResponse>>("Tablet/GetBestQuizResults", filter, demo);
    EXPECT_EQ(ids(answer), ids(expected)) << filter;
  }
}

TEST_F(SampleBackendTest, AProviderSignInMustRegisterOnceAndIsKnownThen) {
  const Auth facebook{"token-from-facebook", "facebook"};
  EXPECT_EQ(call("GET", "Tablet/GetUserProfile", "", facebook).status, 401);
  ExternalRegisterRequest registration;
  registration.userName = "sam@example.com";
  registration.firstName = "Sam";
  registration.lastName = "Reed";
  registration.token = facebook.token;
  registration.provider = facebook.provider;
  EXPECT_EQ(call("POST", "Account/TabletExternalRegister", registration.encode()).status, 200);
  EXPECT_EQ(call("POST", "Account/TabletExternalRegister", registration.encode()).status, 409);

  auto user = profile(facebook);
  ASSERT_TRUE(user);
  EXPECT_TRUE(user->hasFacebook());
  EXPECT_FALSE(user->hasPassword());
  auto withPassword = post<LoginResponse>("Account/TabletAddPassword", "{\"newPassword\":\"secret-1\"}", facebook);
  ASSERT_TRUE(withPassword && withPassword->token);
  user = profile({*withPassword->token});
  ASSERT_TRUE(user);
  EXPECT_TRUE(user->hasPassword());
  EXPECT_EQ(call("GET", "Tablet/GetUserProfile", "", Auth{facebook.token, "zedodo"}).status, 401);
}

TEST_F(SampleBackendTest, WrongRequestsGetTheirStatusWithAnErrorBody) {
  const Auth demo = signIn();
  const struct {
    const char* path;
    const char* body;
    int status;
  } cases[] = {
      {"Account/TabletLogin", "{\"userName\":\"demo@example.com\",\"password\":\"wrong\"}", 401},
      {"Account/TabletLogin", "not json", 400},
      {"Account/TabletRegister",
       "{\"userName\":\"a@example.com\",\"firstName\":\"A\",\"lastName\":\"B\",\"password\":"
       "\"secret-1\","
       "\"confirmPassword\":\"secret-2\"}",
       400},
      {"Account/TabletRegister",
       "{\"userName\":\"demo@example.com\",\"firstName\":\"A\",\"lastName\":\"B\",\"password\":"
       "\"secret-1\","
       "\"confirmPassword\":\"secret-1\"}",
       409},
      {"Account/TabletPasswordRecovery", "{\"userName\":\"nobody@example.com\"}", 404},
      // A wrong current password must not read as a lost session (401 signs the client out).
      {"Account/TabletChangePassword", "{\"oldPassword\":\"wrong\",\"newPassword\":\"secret-3\"}", 400},
      {"Tablet/GetCurriculums", "{\"all\":true}", 400},
      {"Tablet/GetQuizes", "{\"quizId\":\"101\"}", 400},
      {"Tablet/SaveQuizResults", "{\"quizId\":101,\"score\":1,\"maxScore\":2}", 400},
      {"Tablet/SaveQuizResults", "[{\"quizId\":101,\"score\":3,\"maxScore\":2}]", 400},
      {"Tablet/SaveQuizResults", "[{\"quizId\":101,\"score\":1,\"maxScore\":2,\"questionsId\":\"10201;999\"}]", 400},
      {"Tablet/SaveQuizResults", "[{\"quizId\":9999,\"score\":1,\"maxScore\":2}]", 404},
      {"Tablet/NoSuchCall", "{}", 404},
  };
  for (const auto& c : cases) {
    auto answer = call("POST", c.path, c.body, demo);
    EXPECT_EQ(answer.status, c.status) << c.path << " " << c.body;
    auto error = ErrorResponse::decode(answer.body);
    EXPECT_TRUE(error && error->message && error->code) << c.path << ": " << answer.body;
  }
}

TEST_F(SampleBackendTest, AnUploadedProfilePictureIsServedFromTheProfilesAddress) {
  const Auth demo = signIn();
  const std::string picture = "\x89PNG\r\n\x1a\n-not-really-more";
  httplib::Client client("127.0.0.1", backend_->port());
  auto answer = client.Post("/BrevantTest/Account/TabletUploadProfilePicture",
                            {{"Authorization", "Bearer " + demo.token}, {"Authorization-Provider", "basic"}},
                            httplib::MultipartFormDataItems{{"file", picture, "profilePic.PNG", "image/PNG"}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200) << answer->body;

  auto user = profile(demo);
  ASSERT_TRUE(user && user->profilePicturePath());
  auto served = call("GET", *user->profilePicturePath());
  EXPECT_EQ(served.body, picture);
  EXPECT_EQ(served.contentType, "image/png");
}

}  // namespace

// What a user typed wrong comes back as a sentence the client's alert shows as it is.
TEST_F(SampleBackendTest, RefusalsOfWhatAUserTypedReadAsSentences) {
  const auto registration = [](const char* lastName, const char* email, const char* password, const char* confirm) {
    return fmt::format(R"({{"userName":"{}","firstName":"Kim","lastName":"{}","password":"{}"{}}})", email, lastName,
                       password, confirm ? fmt::format(R"(,"confirmPassword":"{}")", confirm) : "");
  };
  const Auth demo = signIn();
  const struct {
    const char* path;
    std::string body;
    const char* message;
  } cases[] = {
      {"Account/TabletRegister", registration(" \\t ", "kim@example.com", "secret-1", "secret-1"),
       "Please enter your last name."},
      {"Account/TabletRegister", R"({"firstName":"Kim","lastName":"Lee","password":"secret-1"})",
       "Please enter your e-mail address."},
      {"Account/TabletRegister", registration("Lee", "kim@", "secret-1", "secret-1"),
       "Please enter a valid e-mail address."},
      {"Account/TabletRegister", registration("Lee", "kim@example.com", "short", "short"),
       "The password must be at least 6 characters long."},
      {"Account/TabletRegister", registration("Lee", "kim@example.com", "secret-1", nullptr),
       "Please confirm your password."},
      {"Account/TabletRegister", registration("Lee", "kim@example.com", "secret-1", "secret-2"),
       "The two passwords do not match."},
      {"Account/TabletExternalRegister", registration("Lee", "kim@example.com", "", nullptr),
       "Please sign in with Facebook or Zedodo."},
      {"Account/TabletChangePassword", R"({"oldPassword":"demo-pass","newPassword":"short"})",
       "The new password must be at least 6 characters long."},
      {"Account/TabletChangePassword", R"({"newPassword":"secret-3"})", "Please enter your current password."},
  };
  for (const auto& c : cases) {
    auto answer = call("POST", c.path, c.body, demo);
    EXPECT_EQ(answer.status, 400) << c.body;
    auto error = ErrorResponse::decode(answer.body);
    ASSERT_TRUE(error && error->message) << answer.body;
    EXPECT_EQ(*error->message, c.message) << c.body;
  }
}
