// Result calls: saving quiz results, reading them back, and achievements.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <sstream>

#include "api.h"

namespace sample_api {
namespace {

std::string now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[20];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// "yyyy-MM-dd HH:mm:ss", digits where the pattern has letters.
bool isDate(std::string_view text) {
  constexpr std::string_view kShape = "0000-00-00 00:00:00";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (kShape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != kShape[i]) return false;
  return true;
}

json wire(const QuizResult& result) {
  return {{"id", result.id},
          {"score", result.score},
          {"time", result.time},
          {"result", result.result},
          {"dateString", result.date},
          {"answersScore", result.answersScore},
          {"maxScore", result.maxScore},
          {"quizId", result.quizId},
          {"studentId", std::to_string(result.accountId)},
          {"mobileId", result.mobileId}};
}

// The grade 1 to 5 that the quiz's level gives a share of the points.
Id grade(double score, Id maxScore, const json& level) {
  const double percent = 100.0 * score / double(maxScore);
  Id result = 1;
  for (const char* key : {"two", "three", "four", "five"}) {
    if (percent + 1e-9 < level[key].get<double>()) break;
    ++result;
  }
  return result;
}

// The longest score text the client writes for one question, such as "100.0000;", with room to
// spare; a question id with its ";" takes less.
constexpr std::size_t kTextPerQuestion = 24;

// A text of a result, which the quiz's questions bound; measured in bytes before it is copied,
// since a call may bring megabytes of it.
std::string questionsText(const json& item, const char* key, Id quizId, std::size_t questions) {
  const std::size_t most = questions * kTextPerQuestion;
  const auto found = item.find(key);
  if (found != item.end() && found->is_string() && found->get_ref<const std::string&>().size() > most)
    badRequest(fmt::format("\"{}\" is too long: quiz {} has {} questions, which take at most {} bytes", key, quizId,
                           questions, most));
  return optText(item, key).value_or("");
}

Id lectureOfQuiz(const Catalog& catalog, Id quizId) {
  return catalog.lectureOfCurriculum((*catalog.quiz(quizId))["curriculumId"]);
}

QuizResult resultOf(Backend& backend, const json& item, Id accountId) {
  if (!item.is_object()) badRequest("Each result must be a JSON object");
  QuizResult result;
  result.accountId = accountId;
  result.quizId = required(optId(item, "quizId"), "quizId");
  const json* quiz = backend.catalog.quiz(result.quizId);
  if (!quiz) throw ApiError{404, kNotFound, fmt::format("There is no quiz {}", result.quizId)};
  result.score = required(optNumber(item, "score"), "score");
  result.maxScore = required(optId(item, "maxScore"), "maxScore");
  if (result.maxScore < 1 || result.score < 0 || result.score > double(result.maxScore) + 1e-9)
    badRequest("\"score\" must lie between 0 and \"maxScore\", which must be at least 1");
  result.time = optId(item, "time").value_or(0);
  result.mobileId = optId(item, "mobileId").value_or(0);
  const auto known = backend.catalog.questionIds(*quiz);
  result.answersScore = questionsText(item, "answersScore", result.quizId, known.size());
  result.questionsId = questionsText(item, "questionsId", result.quizId, known.size());
  std::stringstream ids(result.questionsId);
  for (std::string id; std::getline(ids, id, ';');)
    if (std::find_if(known.begin(), known.end(), [&id](Id k) { return std::to_string(k) == id; }) == known.end())
      badRequest(fmt::format("Quiz {} has no question \"{}\"", result.quizId, id));
  result.date = optText(item, "date").value_or(now());
  if (!isDate(result.date)) badRequest("\"date\" must read yyyy-MM-dd HH:mm:ss");
  result.quizLevelId = optId(item, "quizLevelId");
  if (result.quizLevelId && !backend.catalog.quizLevel(*result.quizLevelId)) badRequest("There is no such quiz level");
  result.result = grade(result.score, result.maxScore, *backend.catalog.quizLevel((*quiz)["quizLevelId"]));
  return result;
}

// The client sends one result a call; many more in one would keep the store busy for long.
constexpr std::size_t kMaxResultsPerCall = 100;

json saveResults(Backend& backend, Call& call) {
  if (!call.body.is_array() || call.body.empty()) badRequest("The body must be a JSON array of results");
  if (call.body.size() > kMaxResultsPerCall)
    badRequest(fmt::format("A call saves at most {} results; this one has {}", kMaxResultsPerCall, call.body.size()));
  std::vector<QuizResult> results;
  for (const auto& item : call.body) results.push_back(resultOf(backend, item, call.accountId));
  json reply = {{"quizResults", json::array()}, {"achievements", json::array()}};
  const auto before = backend.store.resultCount(call.accountId);
  const auto earned = backend.store.earned(call.accountId);
  const Id lecture = lectureOfQuiz(backend.catalog, results.back().quizId);
  std::vector<std::pair<Id, Id>> earning;
  for (const auto& seed : backend.catalog.achievementSeeds()) {
    const Id id = seed["id"];
    if (std::any_of(earned.begin(), earned.end(), [id](const auto& e) { return e.first == id; })) continue;
    const std::string rule = seed["rule"];
    const bool reached = rule == "firstResult"   ? true
                         : rule == "fiveResults" ? before + results.size() >= 5
                                                 : std::any_of(results.begin(), results.end(), [](const QuizResult& r) {
                                                     return r.score >= double(r.maxScore);
                                                   });
    if (!reached) continue;
    earning.emplace_back(id, lecture);
    reply["achievements"].push_back(backend.catalog.achievement(id));
  }
  for (const auto& saved : backend.store.saveResults(std::move(results), earning))
    reply["quizResults"].push_back(wire(saved));
  return reply;
}

// The results a request asks for, read a batch at a time as the answer goes out.
class ResultList {
 public:
  ResultList(Backend& backend, const Call& call)
      : store_(backend.store), catalog_(backend.catalog), accountId_(call.accountId) {
    const auto& request = object(call);
    quizId_ = optId(request, "quizId");
    lectureId_ = optId(request, "lectureId");
    since_ = optText(request, "date");
    if (since_ && !isDate(*since_)) badRequest("\"date\" must read yyyy-MM-dd HH:mm:ss");
  }

  std::optional<json> operator()() {
    for (;;) {
      if (next_ == batch_.size()) {
        store_.resultsAfter(accountId_, after_, batch_);
        next_ = 0;
        if (batch_.empty()) return std::nullopt;
        after_ = batch_.back().id;
      }
      const QuizResult& result = batch_[next_++];
      if (wanted(result)) return wire(result);
    }
  }

 private:
  bool wanted(const QuizResult& result) const {
    if ((quizId_ && result.quizId != *quizId_) || (lectureId_ && lectureOfQuiz(catalog_, result.quizId) != *lectureId_))
      return false;
    return !since_ || result.date >= *since_;
  }

  Store& store_;
  const Catalog& catalog_;
  const Id accountId_;
  std::optional<Id> quizId_, lectureId_;
  std::optional<std::string> since_;
  std::vector<QuizResult> batch_;
  std::size_t next_ = 0;
  Id after_ = 0;
};

ListSource quizResults(Backend& backend, Call& call) { return ResultList(backend, call); }

json bestQuizResults(Backend& backend, Call& call) {
  const auto& request = object(call);
  const auto quizId = optId(request, "quizId");
  const auto curriculumId = optId(request, "curriculumId");
  const auto lectureId = optId(request, "lectureId");
  std::vector<Id> quizzes;
  for (const auto& quiz :
       backend.catalog.quizzes({.id = quizId, .lectureId = lectureId, .curriculumId = curriculumId}, false, ""))
    quizzes.push_back(quiz["id"]);
  std::sort(quizzes.begin(), quizzes.end());
  json list = json::array();
  for (const auto& result : backend.store.bestResults(call.accountId, quizzes)) list.push_back(wire(result));
  return list;
}

json achievements(Backend& backend, Call& call) {
  const auto& request = object(call);
  if (const auto type = optText(request, "entityType")) {
    const Id id = required(optId(request, "id"), "id");
    const bool known = *type == "lecture"      ? backend.catalog.hasLecture(id)
                       : *type == "curriculum" ? backend.catalog.hasCurriculum(id)
                       : *type == "quiz"       ? backend.catalog.quiz(id) != nullptr
                                         : (badRequest("\"entityType\" must be lecture, curriculum or quiz"), false);
    if (!known) throw ApiError{404, kNotFound, fmt::format("There is no {} {}", *type, id)};
  }
  return backend.catalog.achievements();
}

json studentAchievements(Backend& backend, Call& call) {
  const auto& request = object(call);
  const auto lectureId = optId(request, "lectureId");
  json list = json::array();
  for (const auto& [achievement, lecture] : backend.store.earned(call.accountId))
    if (!lectureId || lecture == *lectureId) list.push_back(backend.catalog.achievement(achievement));
  return page(list, request);
}

const Route kRoutes[] = {
    {"POST", "Tablet/SaveQuizResults", true, saveResults},
    {"POST", "Tablet/GetQuizResults", true, nullptr, quizResults},
    {"POST", "Tablet/GetBestQuizResults", true, bestQuizResults},
    {"POST", "Tablet/GetAchievements", true, achievements},
    {"POST", "Tablet/GetStudentAchievements", true, studentAchievements},
};

}  // namespace

std::span<const Route> resultRoutes() { return kRoutes; }

}  // namespace sample_api
