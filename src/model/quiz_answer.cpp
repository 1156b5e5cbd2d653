#include "model/quiz_answer.h"

#include <utility>

std::shared_ptr<QuizAnswer> QuizAnswer::init(const QuizAnswerResponse& record) {
  if (!record.id || !record.isCorrect) return nullptr;
  return initWithAnswerText(*record.id, *record.isCorrect, record.answerText);
}

std::shared_ptr<QuizAnswer> QuizAnswer::initWithAnswerText(std::int64_t id, bool isCorrect,
                                                           std::optional<std::string> answerText) {
  return std::shared_ptr<QuizAnswer>(new QuizAnswer(id, isCorrect, std::move(answerText)));
}
