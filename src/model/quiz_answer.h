#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "model/quiz_answer_response.h"

// One answer choice of a question; `selected` is the student's pick, set by the quiz screens.
class QuizAnswer {
 public:
  // Nothing when the record lacks its id or isCorrect.
  static std::shared_ptr<QuizAnswer> init(const QuizAnswerResponse& record);
  // Answers the quiz screens add of their own.
  static std::shared_ptr<QuizAnswer> initWithAnswerText(std::int64_t id, bool isCorrect,
                                                        std::optional<std::string> answerText);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  bool isCorrect() const { return isCorrect_; }
  void setIsCorrect(bool isCorrect) { isCorrect_ = isCorrect; }
  const std::optional<std::string>& answerText() const { return answerText_; }
  void setAnswerText(std::optional<std::string> answerText) { answerText_ = std::move(answerText); }
  bool selected() const { return selected_; }
  void setSelected(bool selected) { selected_ = selected; }

 private:
  QuizAnswer(std::int64_t id, bool isCorrect, std::optional<std::string> answerText)
      : id_(id), isCorrect_(isCorrect), answerText_(std::move(answerText)) {}

  std::int64_t id_;
  bool isCorrect_;
  std::optional<std::string> answerText_;
  bool selected_ = false;
};
