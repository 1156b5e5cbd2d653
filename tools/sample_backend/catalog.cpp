#include "catalog.h"

#include <algorithm>
#include <cctype>

#include "seed_content.h"

namespace {

std::string folded(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool quizMatches(const json& quiz, Id lectureId, const Catalog::QuizFilter& filter) {
  if (filter.id && quiz["id"] != *filter.id) return false;
  if (filter.curriculumId && quiz["curriculumId"] != *filter.curriculumId) return false;
  if (filter.lectureId && lectureId != *filter.lectureId) return false;
  return containsFolded(quiz["name"], filter.name);
}

}  // namespace

bool containsFolded(const std::string& text, const std::optional<std::string>& part) {
  return !part || folded(text).find(folded(*part)) != std::string::npos;
}

Catalog::Catalog() : seed_(json::parse(kSeedContent)) {}

const json* Catalog::byId(const json& list, Id id) {
  for (const auto& item : list)
    if (item["id"] == id) return &item;
  return nullptr;
}

json Catalog::schools() const { return seed_["schools"]; }

bool Catalog::hasSchool(Id id) const { return byId(seed_["schools"], id); }

json Catalog::lectures(const std::vector<Id>& hidden, const std::optional<std::string>& nameFilter,
                       bool withQuizOnly) const {
  json list = json::array();
  for (const auto& lecture : seed_["lectures"]) {
    const Id id = lecture["id"];
    if (std::find(hidden.begin(), hidden.end(), id) != hidden.end()) continue;
    if (!containsFolded(lecture["name"], nameFilter)) continue;
    if (withQuizOnly && quizzes({.lectureId = id}, false, "").empty()) continue;
    json record = lecture;
    record["isDeleted"] = false;
    record["version"] = 1;
    record["picture"] = "Media/lecture-" + std::to_string(id) + ".png";
    list.push_back(std::move(record));
  }
  return list;
}

bool Catalog::hasLecture(Id id) const { return byId(seed_["lectures"], id); }

json Catalog::curricula(Id lectureId, std::optional<Id> curriculumId, const std::optional<std::string>& nameFilter,
                        bool all) const {
  json list = json::array();
  const json* lecture = byId(seed_["lectures"], lectureId);
  if (!lecture) return list;
  for (const auto& curriculum : seed_["curricula"]) {
    if (curriculum["lectureId"] != lectureId || (curriculumId && curriculum["id"] != *curriculumId)) continue;
    if (!containsFolded(curriculum["name"], nameFilter)) continue;
    json record = curriculum;
    if (!all) record.erase("htmlSite");
    record["isDeleted"] = false;
    record["version"] = 1;
    record["picture"] = "Media/curriculum-" + std::to_string(curriculum["id"].get<Id>()) + ".png";
    record["lectureName"] = (*lecture)["name"];
    list.push_back(std::move(record));
  }
  return list;
}

bool Catalog::hasCurriculum(Id id) const { return byId(seed_["curricula"], id); }

Id Catalog::lectureOfCurriculum(Id curriculumId) const {
  const json* curriculum = byId(seed_["curricula"], curriculumId);
  return curriculum ? (*curriculum)["lectureId"].get<Id>() : 0;
}

json Catalog::documents(Id curriculumId, const std::optional<std::string>& nameFilter) const {
  json list = json::array();
  for (const auto& document : seed_["documents"]) {
    if (document["curriculumId"] != curriculumId || !containsFolded(document["name"], nameFilter)) continue;
    json record = document;
    record.erase("text");
    record["isDeleted"] = false;
    record["path"] = "Tablet/GetDocument?p=~" + std::to_string(document["id"].get<Id>());
    list.push_back(std::move(record));
  }
  return list;
}

const json* Catalog::document(Id id) const { return byId(seed_["documents"], id); }

const json* Catalog::quiz(Id id) const { return byId(seed_["quizzes"], id); }

const json* Catalog::quizLevel(Id id) const { return byId(seed_["quizLevels"], id); }

std::vector<Id> Catalog::questionIds(const json& quiz) const {
  std::vector<Id> ids;
  for (std::size_t i = 0; i < quiz["questions"].size(); ++i) ids.push_back(quiz["id"].get<Id>() * 100 + Id(i) + 1);
  return ids;
}

json Catalog::quizzes(const QuizFilter& filter, bool all, const std::string& mediaBase) const {
  json list = json::array();
  for (const auto& quiz : seed_["quizzes"]) {
    if (!quizMatches(quiz, lectureOfCurriculum(quiz["curriculumId"]), filter)) continue;
    json record = quiz;
    record.erase("questions");
    record["isDeleted"] = false;
    record["quizLevel"] = *quizLevel(quiz["quizLevelId"]);
    if (all) {
      json questions = json::array();
      const auto ids = questionIds(quiz);
      for (std::size_t i = 0; i < ids.size(); ++i) {
        json question = quiz["questions"][i];
        json answers = json::array();
        for (std::size_t j = 0; j < question["answers"].size(); ++j) {
          json answer = question["answers"][j];
          answer["id"] = ids[i] * 10 + Id(j) + 1;
          answer["quizQuestionId"] = ids[i];
          answer["pairText"] = "";
          answers.push_back(std::move(answer));
        }
        question.erase("answers");
        question["questionAnswer"] = std::move(answers);
        question["id"] = ids[i];
        question["quizId"] = quiz["id"];
        question["isDeleted"] = false;
        question["order"] = i + 1;
        if (question.contains("questionData") && question["questionDataType"] != "text")
          question["questionData"] = mediaBase + question["questionData"].get<std::string>();
        questions.push_back(std::move(question));
      }
      record["quizQuestion"] = std::move(questions);
    }
    list.push_back(std::move(record));
  }
  return list;
}

json Catalog::news(std::optional<Id> lectureId, const std::optional<std::string>& search) const {
  json list = json::array();
  for (const auto& item : seed_["news"]) {
    if (lectureId && item.value("lectureId", Id(0)) != *lectureId) continue;
    if (search && !containsFolded(item["title"].get<std::string>() + "\n" + item["description"].get<std::string>() +
                                      "\n" + item["longText"].get<std::string>(),
                                  search))
      continue;
    json record = item;
    if (const json* lecture = item.contains("lectureId") ? byId(seed_["lectures"], item["lectureId"]) : nullptr)
      record["lectureName"] = (*lecture)["name"];
    list.push_back(std::move(record));
  }
  return list;
}

json Catalog::achievement(Id id) const {
  json record = *byId(seed_["achievements"], id);
  record.erase("rule");
  record["picture"] = "Media/achievement-" + std::to_string(id) + ".png";
  return record;
}

json Catalog::achievements() const {
  json list = json::array();
  for (const auto& seed : seed_["achievements"]) list.push_back(achievement(seed["id"]));
  return list;
}
