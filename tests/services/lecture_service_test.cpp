#include <fmt/format.h>
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "backend_fixture.h"
#include "model/save_quiz_results_request.h"
#include "platform/json/mapper.h"
#include "services/lecture_service.h"

namespace {

std::string lecture(int id, const std::string& name) {
  return R"({"id":)" + std::to_string(id) + R"(,"name":")" + name + R"(","description":"d","color":"teal_amber"})";
}

std::string questionJson(int id, const std::string& type = "trueFalse", const std::string& answers = "[]",
                         int maxScore = 1) {
  return fmt::format(R"({{"id":{},"order":1,"type":"{}","questionText":"q","questionDataType":"text",)"
                     R"("maxScore":{},"questionAnswer":{}}})",
                     id, type, maxScore, answers);
}

class LectureServiceTest : public BackendFixture {
 protected:
  void SetUp() override {
    BackendFixture::SetUp();
    signInBasic();
  }

  LectureService& service() { return *locator().lectureService(); }

  // What a lecture list call answered: the names in order, or "failure " and the message.
  static std::string names(const std::vector<std::shared_ptr<Lecture>>& lectures) {
    std::string text = "lectures";
    for (const auto& l : lectures) text += " " + l->name();
    return text;
  }
  using Fetch = void (LectureService::*)(bool, LectureService::LecturesSuccess, LectureService::Failure);
  std::string fetch(bool useCache, Fetch method = &LectureService::getAvailableLectures) {
    std::string outcome;
    (service().*method)(
        useCache, [&](const auto& lectures) { outcome = names(lectures); },
        [&](const std::string& message) { outcome = "failure " + message; });
    waitFor([&] { return !outcome.empty(); });
    return outcome;
  }

  // A question built from its record: each answer is {isCorrect, selected}.
  static std::shared_ptr<QuizQuestion> question(int id, const std::string& type, int maxScore,
                                                const std::vector<std::pair<bool, bool>>& answers) {
    std::string list;
    for (std::size_t i = 0; i < answers.size(); ++i)
      list += fmt::format(R"({}{{"id":{},"isCorrect":{}}})", i ? "," : "", id * 10 + i, answers[i].first);
    auto built = QuizQuestion::init(*QuizQuestionResponse::decode(questionJson(id, type, "[" + list + "]", maxScore)));
    for (std::size_t i = 0; i < answers.size(); ++i) built->answer()[i]->setSelected(answers[i].second);
    return built;
  }
  static std::shared_ptr<Quiz> quiz(std::vector<std::shared_ptr<QuizQuestion>> questions,
                                    const std::string& level = R"({"id":4})") {
    auto made = Quiz::init(*QuizResponse::decode(R"({"id":77,"name":"Q","curriculumId":5,"quizLevel":)" + level + "}"));
    made->setQuestions(std::move(questions));
    return made;
  }

  // What saving answered: "<questions> <wrong> <fraction>", or "failure " and the message.
  std::string save(const std::shared_ptr<Quiz>& quiz) {
    std::string outcome;
    service().saveQuizResults(
        quiz, [&](int questions, int wrong, double part) { outcome = fmt::format("{} {} {}", questions, wrong, part); },
        [&](const std::string& message) { outcome = "failure " + message; });
    EXPECT_EQ(outcome, "") << "answers on the run loop, not inside the call";
    waitFor([&] { return !outcome.empty(); });
    return outcome;
  }
  std::vector<SaveQuizResultsRequest> savedRecords() const {
    return Mapper<SaveQuizResultsRequest>().mapArray(server.lastRequest()->body);
  }
};

TEST_F(LectureServiceTest, LectureListsAreSortedByNameAndCachedUntilCleared) {
  reply("Tablet/GetAvailableLectures", 200,
        "[" + lecture(1, "beta") + "," + lecture(2, "alpha") + "," + lecture(3, "Alpha") + R"(,{"id":4,"name":"x"}])");
  EXPECT_EQ(fetch(true), "lectures Alpha alpha beta");  // the cache is empty: fetches
  EXPECT_EQ(std::tuple(server.requestCount(), lastBody()), std::tuple(1u, nlohmann::json::object()));

  // A non-empty cache answers inside the call and sends nothing, with a list of the caller's own.
  std::string cached;
  service().getAvailableLectures(
      true,
      [&](const std::vector<std::shared_ptr<Lecture>>& lectures) {
        service().clearCache();
        cached = names(lectures);
      },
      [](const std::string&) {});
  EXPECT_EQ(std::tuple(cached, server.requestCount()), std::tuple("lectures Alpha alpha beta", 1u));

  // Without the cache it fetches and replaces; a failure, a page that is no JSON included, keeps
  // the last list.
  reply("Tablet/GetAvailableLectures", 200, "[" + lecture(9, "gamma") + "]");
  EXPECT_EQ(fetch(false), "lectures gamma");
  for (const auto& [status, body, message] : {std::tuple{500, R"({"errorMessage":"down"})", std::string("down")},
                                              std::tuple{200, "<html>portal</html>", networkMessage()}}) {
    reply("Tablet/GetAvailableLectures", status, body);
    EXPECT_EQ(fetch(false), "failure " + message);
    EXPECT_EQ(names(service().lectures()), "lectures gamma");
  }

  // The quiz lecture list is a cache of its own; clearCache empties both.
  reply("Tablet/GetLecturesWithQuiz", 200, "[" + lecture(5, "quizzy") + "]");
  EXPECT_EQ(fetch(true, &LectureService::getLecturesWithQuiz), "lectures quizzy");
  EXPECT_EQ(names(service().lectures()), "lectures gamma");
  service().clearCache();
  EXPECT_TRUE(service().lectures().empty() && service().quizLectures().empty());
}

TEST_F(LectureServiceTest, SingleCurriculumIsTheFirstOfTheReply) {
  std::shared_ptr<Curriculum> curriculum;
  reply("Tablet/GetCurriculums", 200, "[]");
  EXPECT_EQ(answerInto(curriculum, [&](auto keep, auto ko) { service().getCurriculum(3, 8, keep, ko); }).failures,
            Texts{networkMessage()});
  EXPECT_EQ(lastBody(), (nlohmann::json{{"lectureId", 3}, {"curriculumId", 8}, {"all", false}}));

  reply("Tablet/GetCurriculums", 200, R"([{"id":8,"name":"C","description":"d","htmlSite":"<p/>"},{"id":9}])");
  answerInto(curriculum, [&](auto keep, auto ko) { service().getCurriculumWithContent(3, 8, keep, ko); });
  EXPECT_EQ(std::tuple(curriculum->content(), lastBody()["all"]), std::tuple("<p/>", true));

  // The list keeps reply order and leaves out the item that gives no curriculum.
  std::vector<std::shared_ptr<Curriculum>> listed;
  answerInto(listed, [&](auto keep, auto ko) { service().getCurriculums(3, keep, ko); });
  EXPECT_EQ(listed.size(), 1u);
  EXPECT_EQ(lastBody(), (nlohmann::json{{"lectureId", 3}, {"all", false}}));
}

TEST_F(LectureServiceTest, AQuizComesWholeOrNotAtAll) {
  const std::string quiz = R"({"id":1,"name":"Q","curriculumId":2,"quizLevel":{"id":3})";
  auto withQuestions = [&](const std::string& list) { return "[" + quiz + R"(,"quizQuestion":[)" + list + "]}]"; };
  const std::string failed = "failure " + networkMessage();
  const struct {
    const char* what;
    std::string body;
    std::string outcome;
  } cases[] = {
      {"reply order, not `order`", withQuestions(questionJson(20) + "," + questionJson(10)), "questions 20 10"},
      {"no question list", "[" + quiz + "}]", "no question list"},
      {"an empty one", withQuestions(""), "questions"},
      {"no quiz", "[]", "no quiz"},
      {"a quiz without its level", R"([{"id":1,"name":"Q","curriculumId":2,"quizQuestion":[]}])", failed},
      {"an unknown question type", withQuestions(questionJson(20) + "," + questionJson(21, "unknown")), failed},
      {"a question that is no object", withQuestions(questionJson(20) + ",7"), failed},
      {"an answer that is no object",
       withQuestions(questionJson(20, "trueFalse", R"([{"id":1,"isCorrect":true},null])")), failed},
      {"a portal page", "<html>sign in to the network</html>", failed},
  };
  for (const auto& c : cases) {
    reply("Tablet/GetQuizes", 200, c.body);
    std::string outcome;
    service().getQuiz(
        1,
        [&](const std::shared_ptr<Quiz>& loaded) {
          if (!loaded) return void(outcome = "no quiz");
          if (!loaded->questions()) return void(outcome = "no question list");
          outcome = "questions";
          for (const auto& q : *loaded->questions()) outcome += " " + std::to_string(q->id());
        },
        [&](const std::string& message) { outcome += "failure " + message; });
    waitFor([&] { return !outcome.empty(); });
    EXPECT_EQ(outcome, c.outcome) << c.what;
  }
  EXPECT_EQ(lastBody(), (nlohmann::json{{"quizId", 1}, {"all", true}}));

  // The list hands the lecture and the curriculum on in their own places.
  reply("Tablet/GetQuizes", 200, "[" + quiz + "}," + quiz + "}]");
  std::vector<std::shared_ptr<Quiz>> listed;
  answerInto(listed, [&](auto keep, auto ko) { service().getQuizes(3, 4, keep, ko); });
  EXPECT_EQ(listed.size(), 2u);
  EXPECT_EQ(lastBody(), (nlohmann::json{{"lectureId", 3}, {"curriculumId", 4}, {"all", false}}));
}

TEST_F(LectureServiceTest, BestResultsKeepTheLaterItemSkipIncompleteOnesAndTakeAZeroMaximumAsZero) {
  reply("Tablet/GetBestQuizResults", 200,
        R"([{"quizId":1,"score":2,"maxScore":4},{"quizId":2,"score":1,"maxScore":0},)"
        R"({"quizId":1,"score":3,"maxScore":4},{"quizId":3,"maxScore":4},{"score":1,"maxScore":1}])");
  std::map<LectureService::Id, double> results;
  answerInto(results, [&](auto keep, auto ko) { service().getBestQuizResults(6, keep, ko); });
  EXPECT_EQ(lastBody(), (nlohmann::json{{"curriculumId", 6}}));
  EXPECT_EQ(results, (std::map<LectureService::Id, double>{{1, 0.75}, {2, 0.0}}));
}

TEST_F(LectureServiceTest, ScoringFollowsTheQuestionTypeRules) {
  reply("Tablet/SaveQuizResults", 200, R"({"achievements":[]})");
  struct Case {
    std::shared_ptr<QuizQuestion> question;
    const char* score;
    int wrong;
  };
  const std::vector<Case> cases = {
      // Several correct answers: wrong picks cost points, but only a missed correct one is wrong.
      {question(1, "moreCorrect", 10, {{true, true}, {true, true}, {false, true}}), "5.0000", 0},
      {question(2, "moreCorrect", 10, {{true, true}, {true, false}, {false, true}}), "0.0000", 1},
      {question(3, "moreCorrect", 10, {{true, true}, {true, false}, {false, false}}), "5.0000", 1},
      {question(4, "moreCorrect", 10, {{true, false}, {true, false}, {false, true}}), "0.0000", 1},
      {question(5, "moreCorrect", 10, {{true, true}, {false, true}, {false, true}, {false, true}}), "0.0000", 0},
      // Other types: extra wrong picks do not reduce the score.
      {question(6, "oneCorrect", 4, {{true, true}, {false, true}}), "4.0000", 0},
      {question(7, "trueFalse", 3, {{true, true}}), "3.0000", 0},
      {question(8, "getWord", 3, {{true, false}}), "0.0000", 1},
      // No correct answer and nothing picked: nothing scored, nothing wrong.
      {question(9, "oneCorrect", 2, {{false, false}}), "0.0000", 0},
      {question(10, "oneCorrect", 2, {}), "0.0000", 0},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(save(quiz({c.question})).starts_with(fmt::format("1 {} ", c.wrong))) << c.question->id();
    EXPECT_EQ(savedRecords().at(0).answersScore, c.score) << c.question->id();
  }
}

TEST_F(LectureServiceTest, SavedResultCarriesJoinedScoresAndTheSummary) {
  reply("Tablet/SaveQuizResults", 200, R"({"achievements":[]})");
  // 1 of 3 correct picked on a 3-point question gives 1; 1 of 2 on a 1-point one gives 0.5.
  auto first = question(12, "oneCorrect", 3, {{true, true}, {true, false}, {true, false}});
  auto second = question(15, "moreCorrect", 1, {{true, true}, {true, false}});
  EXPECT_EQ(save(quiz({first, second})), "2 2 0.375");
  auto records = savedRecords();
  ASSERT_EQ(records.size(), 1u);
  const auto& r = records[0];
  EXPECT_EQ(std::tuple(r.quizId, r.score, r.time, r.answersScore, r.maxScore, r.mobileId, r.questionsId, r.quizLevelId),
            std::tuple(77, 1.5, 0, "1.0000;0.5000", 4, 0, "12;15", 4));
  EXPECT_EQ(r.date, time.now());

  save(quiz({first}, "{}"));
  EXPECT_FALSE(lastBody()[0].contains("quizLevelId"));
  EXPECT_EQ(save(quiz({question(16, "oneCorrect", 0, {{true, true}})})), "1 0 0");

  // Maximum scores that add up past the integer range.
  first->setMaxScore(std::numeric_limits<std::int64_t>::max());
  second->setMaxScore(std::numeric_limits<std::int64_t>::max());
  save(quiz({first, second}));
  EXPECT_EQ(savedRecords()[0].maxScore, std::numeric_limits<std::int64_t>::max());
}

TEST_F(LectureServiceTest, SavingAQuizWithoutQuestionsSendsNothing) {
  auto noQuestions = quiz({});
  auto neverLoaded = quiz({});
  neverLoaded->setQuestions(std::nullopt);
  for (const auto& q : {noQuestions, neverLoaded}) EXPECT_EQ(save(q), "failure " + networkMessage());
  EXPECT_EQ(server.requestCount(), 0u);
}

// The one end-to-end run of a 401.
TEST_F(LectureServiceTest, DocumentsCarryAbsoluteUrlsAndA401SignsOutAfterTheFailure) {
  reply("Tablet/GetDocuments", 200, R"([{"id":1,"name":"N","path":"docs/a b.pdf","fileName":"a b.pdf"},{"id":2}])");
  std::vector<std::shared_ptr<Attachment>> documents;
  const auto getDocuments = [&](auto keep, auto ko) { service().getDocuments(4, keep, ko); };
  answerInto(documents, getDocuments);
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0]->url(), server.url("BrevantTest/docs/a%20b.pdf"));
  EXPECT_EQ(lastBody(), (nlohmann::json{{"curriculumId", 4}}));

  // The order, failure first, is the error handler's; here: the locator wired it to the manager.
  reply("Tablet/GetDocuments", 401, R"({"errorMessage":"expired"})");
  EXPECT_EQ(answerInto(documents, getDocuments).failures, Texts{ErrorMessages::unauthorizedMessage()});
  EXPECT_EQ(sessionDelegate->calls, Texts{"userDidLogout"});
  EXPECT_FALSE(manager()->authenticationType());
}

}  // namespace
