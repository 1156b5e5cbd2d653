#include "model/quiz_question.h"

#include "platform/foundation/url.h"

std::shared_ptr<QuizQuestion> QuizQuestion::init(const QuizQuestionResponse& record) {
  if (!record.id || !record.type || !record.text || !record.dataType || !record.maxScore || !record.answer ||
      record.hasUnusableAnswers)
    return nullptr;
  const auto type = enumFromRawValue<QuizQuestionType>(*record.type);
  const auto dataType = enumFromRawValue<QuizQuestionDataType>(*record.dataType);
  if (!type || !dataType) return nullptr;

  std::shared_ptr<QuizQuestion> question(new QuizQuestion());
  question->id_ = *record.id;
  question->type_ = *type;
  question->text_ = *record.text;
  question->dataType_ = *dataType;
  if (*dataType == QuizQuestionDataType::text) {
    question->data_ = record.data;
  } else if (record.data) {
    question->data_ = stringByAddingPercentEncoding(*record.data, URLCharacterSet::QueryAllowed);
  }
  question->maxScore_ = *record.maxScore;
  question->answer_.reserve(record.answer->size());
  for (const QuizAnswerResponse& element : *record.answer) {
    auto answer = QuizAnswer::init(element);
    if (!answer) return nullptr;  // a question without one of its choices would score wrongly
    question->answer_.push_back(std::move(answer));
  }
  return question;
}
