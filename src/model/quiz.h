#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/quiz_level_response.h"
#include "model/quiz_question.h"
#include "model/quiz_response.h"

// One quiz. `questions` is set only by the single-quiz load; a quiz of a list has none.
class Quiz {
 public:
  // Nothing when the id, name, level or curriculum id is missing. The record's questions are
  // the caller's to convert.
  static std::shared_ptr<Quiz> init(const QuizResponse& record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::optional<std::string>& description() const { return description_; }
  void setDescription(std::optional<std::string> description) { description_ = std::move(description); }
  const QuizLevelResponse& level() const { return level_; }
  void setLevel(QuizLevelResponse level) { level_ = std::move(level); }
  std::int64_t curriculumId() const { return curriculumId_; }
  void setCurriculumId(std::int64_t curriculumId) { curriculumId_ = curriculumId; }
  const std::optional<std::vector<std::shared_ptr<QuizQuestion>>>& questions() const { return questions_; }
  void setQuestions(std::optional<std::vector<std::shared_ptr<QuizQuestion>>> questions) {
    questions_ = std::move(questions);
  }

 private:
  Quiz() = default;

  std::int64_t id_ = 0;
  std::string name_;
  std::optional<std::string> description_;
  QuizLevelResponse level_;
  std::int64_t curriculumId_ = 0;
  std::optional<std::vector<std::shared_ptr<QuizQuestion>>> questions_;
};
