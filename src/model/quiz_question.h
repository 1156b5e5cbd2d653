#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/quiz_answer.h"
#include "model/quiz_question_data_type.h"
#include "model/quiz_question_response.h"
#include "model/quiz_question_type.h"

// One question of a quiz with its answer choices in the order received.
class QuizQuestion {
 public:
  // Nothing when a needed value is missing, a kind is unknown, or any answer cannot be made (an
  // answer element that is not an object included).
  static std::shared_ptr<QuizQuestion> init(const QuizQuestionResponse& record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  QuizQuestionDataType dataType() const { return dataType_; }
  void setDataType(QuizQuestionDataType dataType) { dataType_ = dataType; }
  QuizQuestionType type() const { return type_; }
  void setType(QuizQuestionType type) { type_ = type; }
  const std::string& text() const { return text_; }
  void setText(std::string text) { text_ = std::move(text); }
  // Text material as received; other material percent-encoded for use in a URL.
  const std::optional<std::string>& data() const { return data_; }
  void setData(std::optional<std::string> data) { data_ = std::move(data); }
  std::int64_t maxScore() const { return maxScore_; }
  void setMaxScore(std::int64_t maxScore) { maxScore_ = maxScore; }
  const std::vector<std::shared_ptr<QuizAnswer>>& answer() const { return answer_; }
  void setAnswer(std::vector<std::shared_ptr<QuizAnswer>> answer) { answer_ = std::move(answer); }

 private:
  QuizQuestion() = default;

  std::int64_t id_ = 0;
  QuizQuestionDataType dataType_ = QuizQuestionDataType::text;
  QuizQuestionType type_ = QuizQuestionType::trueFalse;
  std::string text_;
  std::optional<std::string> data_;
  std::int64_t maxScore_ = 0;
  std::vector<std::shared_ptr<QuizAnswer>> answer_;
};
