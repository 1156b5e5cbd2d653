#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

using json = nlohmann::json;
using Id = std::int64_t;

// The fixed content (seed_content.cpp) and its answers in the client's keys: every list is a
// JSON array of records as the backend sends them. Pictures and documents are paths relative to
// the base URL; question media are absolute URLs made with `mediaBase`.
class Catalog {
 public:
  Catalog();

  json schools() const;
  bool hasSchool(Id id) const;

  // Lectures sorted by id, without those in `hidden`; `nameFilter` matches part of the name in
  // any letter case.
  json lectures(const std::vector<Id>& hidden, const std::optional<std::string>& nameFilter, bool withQuizOnly) const;
  bool hasLecture(Id id) const;
  // The HTML page goes out only with `all`.
  json curricula(Id lectureId, std::optional<Id> curriculumId, const std::optional<std::string>& nameFilter,
                 bool all) const;
  bool hasCurriculum(Id id) const;
  json documents(Id curriculumId, const std::optional<std::string>& nameFilter) const;
  // The seed record of document `id`, with "fileName" and "text"; nullptr when there is none.
  const json* document(Id id) const;

  struct QuizFilter {
    std::optional<Id> id{}, lectureId{}, curriculumId{};
    std::optional<std::string> name{};
  };
  // The questions go out only with `all`.
  json quizzes(const QuizFilter& filter, bool all, const std::string& mediaBase) const;
  // The seed record of quiz `id`; nullptr when there is none.
  const json* quiz(Id id) const;
  const json* quizLevel(Id id) const;
  Id lectureOfCurriculum(Id curriculumId) const;
  // The ids of a quiz's questions, in order.
  std::vector<Id> questionIds(const json& quiz) const;

  json news(std::optional<Id> lectureId, const std::optional<std::string>& search) const;

  // Every achievement in the client's keys, and the seed records with their "rule".
  json achievements() const;
  const json& achievementSeeds() const { return seed_["achievements"]; }
  json achievement(Id id) const;

 private:
  static const json* byId(const json& list, Id id);

  json seed_;
};

// Whether `text` holds `part`, ignoring ASCII letter case; an absent part matches everything.
bool containsFolded(const std::string& text, const std::optional<std::string>& part);
