// Scoring and encoding an answered 1,000-question quiz, against encoding the finished result alone;
// and building the models of a 2,000-lecture reply, against decoding the reply alone.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_timing.h"
#include "model/model_url_builder.h"
#include "services/lecture_service.h"
#include "services/reply_models.h"

namespace {

constexpr int kQuestions = 1000;
constexpr int kLectures = 2000;
constexpr int kRounds = 25;

const char* const kThemes[] = {"indigo_pink",  "blue_indigo", "teal_amber",    "cyan_orange",
                               "purple_amber", "green_pink",  "yellow_orange", "no_such_theme"};
const char* const kTypes[] = {"trueFalse", "getWord", "oneCorrect", "moreCorrect"};

// A quiz answered the way students do: most picks right, some wrong, some questions skipped.
std::shared_ptr<Quiz> answeredQuiz() {
  nlohmann::json record = {{"id", 5}, {"name", "Final exam"}, {"curriculumId", 3}, {"quizLevel", {{"id", 2}}}};
  auto quiz = Quiz::init(*QuizResponse::decode(record.dump()));
  std::vector<std::shared_ptr<QuizQuestion>> questions;
  for (int q = 0; q < kQuestions; ++q) {
    nlohmann::json question = {{"id", 10000 + q},
                               {"type", kTypes[q % 4]},
                               {"questionText", "Which one?"},
                               {"questionDataType", "text"},
                               {"maxScore", 1 + q % 5},
                               {"questionAnswer", nlohmann::json::array()}};
    for (int a = 0; a < 4; ++a)
      question["questionAnswer"].push_back({{"id", q * 4 + a}, {"isCorrect", a == 0 || (q % 4 == 3 && a == 1)}});
    auto built = QuizQuestion::init(*QuizQuestionResponse::decode(question.dump()));
    for (int a = 0; a < 4; ++a) built->answer()[a]->setSelected((q + a) % 3 == 0);
    questions.push_back(built);
  }
  quiz->setQuestions(std::move(questions));
  return quiz;
}

// Encodes what the service would send, and sends nothing.
class EncodingBackendApi : public BackendApi {
 public:
  EncodingBackendApi() : BackendApi("https://bench.invalid/") {}
  void saveQuizResults(std::vector<SaveQuizResultsRequest> results,
                       Completion<SaveQuizResultsResponse> completion) override {
    last = std::move(results);
    bytes += MappableArray<SaveQuizResultsRequest>(last).encode().size();
    if (completion) completion(SaveQuizResultsResponse{}, std::nullopt);
  }
  std::vector<SaveQuizResultsRequest> last;
  std::size_t bytes = 0;
};

std::string lectureListReply() {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int i = 0; i < kLectures; ++i) {
    list.push_back({{"id", 1000 + i},
                    {"name", "Cell Biology " + std::to_string((i * 7919) % kLectures)},
                    {"isDeleted", false},
                    {"version", i % 5},
                    {"description", "Membranes, organelles, metabolism and division, lecture " + std::to_string(i)},
                    {"picture", "/Content/Images/Lectures/" + std::to_string(1000 + i) + "_cover.png"},
                    {"color", kThemes[i % 8]},
                    {"teacherName", "Prof. Marta Kovacevic"},
                    {"avgScore", 3.25 + (i % 13) * 0.5}});
  }
  return list.dump();
}

}  // namespace

int main() {
  auto api = std::make_shared<EncodingBackendApi>();
  auto service = std::make_shared<LectureService>(api);
  const auto quiz = answeredQuiz();
  int answered = 0;
  std::vector<double> saveTimes, encodeTimes;
  for (int round = 0; round < kRounds; ++round) {
    saveTimes.push_back(seconds([&] {
      service->saveQuizResults(
          quiz, [&](int, int, double) { ++answered; }, [](const std::string&) {});
    }));
    const auto finished = api->last;
    encodeTimes.push_back(
        seconds([&] { api->bytes += MappableArray<SaveQuizResultsRequest>(finished).encode().size(); }));
  }
  if (answered != kRounds) {
    std::fprintf(stderr, "quiz_bench: %d of %d saves answered\n", answered, kRounds);
    return 1;
  }

  ModelUrlBuilder::install([base = api->backendUrl()](const std::string& path) { return base + path; });
  const std::string reply = lectureListReply();
  std::size_t models = 0;
  std::vector<double> decodeTimes, buildTimes;
  for (int round = 0; round < kRounds; ++round) {
    decodeTimes.push_back(seconds([&] { models += MappableArray<LectureResponse>::decode(reply).size(); }));
    buildTimes.push_back(
        seconds([&] { models += modelsFromReply<Lecture>(MappableArray<LectureResponse>::decode(reply)).size(); }));
  }
  if (models != static_cast<std::size_t>(2 * kRounds * kLectures)) {
    std::fprintf(stderr, "quiz_bench: unexpected model count %zu\n", models);
    return 1;
  }

  const double save = median(saveTimes), encode = median(encodeTimes);
  const double decode = median(decodeTimes), build = median(buildTimes);
  std::printf("quiz_bench: saveQuizResults of %d questions (%zu bytes sent)\n", kQuestions,
              MappableArray<SaveQuizResultsRequest>(api->last).encode().size());
  std::printf("  score and encode                 %8.3f ms  (%6.3f us per question)\n", save * 1e3,
              save * 1e6 / kQuestions);
  std::printf("  encode the finished record alone %8.3f ms\n", encode * 1e3);
  std::printf("  ratio save/encode                %8.3f\n", save / encode);
  std::printf("quiz_bench: %d-lecture reply, %zu bytes\n", kLectures, reply.size());
  std::printf("  decode the records alone         %8.3f ms\n", decode * 1e3);
  std::printf("  decode and build the models      %8.3f ms\n", build * 1e3);
  std::printf("  ratio models/decode              %8.3f\n", build / decode);
  return 0;
}
