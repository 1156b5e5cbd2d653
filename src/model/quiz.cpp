#include "model/quiz.h"

std::shared_ptr<Quiz> Quiz::init(const QuizResponse& record) {
  if (!record.id || !record.name || !record.quizLevel || !record.curriculumId) return nullptr;
  std::shared_ptr<Quiz> quiz(new Quiz());
  quiz->id_ = *record.id;
  quiz->name_ = *record.name;
  quiz->description_ = record.description;
  quiz->level_ = *record.quizLevel;
  quiz->curriculumId_ = *record.curriculumId;
  return quiz;
}
