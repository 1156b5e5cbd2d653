#include "services/lecture_service.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "app/text_utilities.h"
#include "model/save_quiz_results_request.h"
#include "platform/foundation/date.h"
#include "services/reply_models.h"

namespace {

struct QuizScore {
  double score = 0;
  std::int64_t max = 0;
  int wrong = 0;
  std::string answersScore;
  std::string questionsId;
};

// All correct answers must be picked for a question to count as right. Wrong picks cost points
// only on questions with several correct answers.
QuizScore scoreQuiz(const std::vector<std::shared_ptr<QuizQuestion>>& questions) {
  QuizScore total;
  for (const auto& question : questions) {
    int correct = 0, correctSelected = 0, wrongSelected = 0;
    for (const auto& answer : question->answer()) {
      if (answer->isCorrect()) ++correct;
      if (answer->selected()) ++(answer->isCorrect() ? correctSelected : wrongSelected);
    }
    if (correctSelected != correct) ++total.wrong;

    const double maxScore = static_cast<double>(question->maxScore());
    const double c = correct, cs = correctSelected, ws = wrongSelected;
    double s = 0;
    if (question->type() == QuizQuestionType::moreCorrect && correctSelected >= 1 && wrongSelected >= 1) {
      s = std::max(0.0, cs / c * maxScore - ws / c * maxScore);
    } else if (correctSelected >= 1) {
      s = cs / c * maxScore;
    }
    total.score += s;
    // Maximum scores come from the backend; a sum past the integer range stays at its end.
    if (__builtin_add_overflow(total.max, question->maxScore(), &total.max))
      total.max = question->maxScore() > 0 ? std::numeric_limits<std::int64_t>::max()
                                           : std::numeric_limits<std::int64_t>::min();
    total.answersScore += formatDecimal(".4", s) + ';';
    total.questionsId += std::to_string(question->id()) + ';';
  }
  if (!total.answersScore.empty()) total.answersScore.pop_back();
  if (!total.questionsId.empty()) total.questionsId.pop_back();
  return total;
}

}  // namespace

LectureService::LectureService(std::shared_ptr<BackendApi> backendApi) : backendApi_(std::move(backendApi)) {}

void LectureService::clearCache() {
  lectures_.clear();
  quizLectures_.clear();
}

void LectureService::getAvailableLectures(bool useCache, LecturesSuccess success, Failure failure) {
  getLectures(LectureList::available, useCache, std::move(success), std::move(failure));
}

void LectureService::getAvailableLectures(LecturesSuccess success, Failure failure) {
  getAvailableLectures(false, std::move(success), std::move(failure));
}

void LectureService::getLecturesWithQuiz(bool useCache, LecturesSuccess success, Failure failure) {
  getLectures(LectureList::withQuiz, useCache, std::move(success), std::move(failure));
}

void LectureService::getLecturesWithQuiz(LecturesSuccess success, Failure failure) {
  getLecturesWithQuiz(false, std::move(success), std::move(failure));
}

void LectureService::getLectures(LectureList list, bool useCache, LecturesSuccess success, Failure failure) {
  // Success gets a copy: a callback that clears or replaces the cache keeps the list it was given.
  if (useCache && !cache(list).empty()) {
    const std::vector<std::shared_ptr<Lecture>> cached = cache(list);
    success(cached);
    return;
  }
  auto completion = [weak = weak_from_this(), list, success = std::move(success), failure = std::move(failure)](
                        std::optional<MappableArray<LectureResponse>> reply,
                        std::optional<TransferError<ErrorResponse>> error) {
    if (!reply) return ErrorHandler::handleError(error, failure);
    auto lectures = modelsFromReply<Lecture>(std::move(*reply));
    std::stable_sort(lectures.begin(), lectures.end(),
                     [](const auto& a, const auto& b) { return a->name() < b->name(); });
    if (auto self = weak.lock()) self->cache(list) = lectures;
    success(lectures);
  };
  if (list == LectureList::available) {
    backendApi_->getAvailableLectures(std::nullopt, std::nullopt, std::nullopt, std::move(completion));
  } else {
    backendApi_->getLecturesWithQuiz(std::nullopt, std::nullopt, std::nullopt, std::move(completion));
  }
}

void LectureService::getCurriculums(Id lectureId, CurriculumsSuccess success, Failure failure) {
  backendApi_->getCurriculums(
      lectureId, std::nullopt, std::nullopt, false, std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](
          std::optional<MappableArray<CurriculumResponse>> reply, std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        success(modelsFromReply<Curriculum>(std::move(*reply)));
      });
}

void LectureService::getCurriculum(Id lectureId, Id curriculumId, CurriculumSuccess success, Failure failure) {
  getFirstCurriculum(lectureId, curriculumId, false, std::move(success), std::move(failure));
}

void LectureService::getCurriculumWithContent(Id lectureId, Id curriculumId, CurriculumSuccess success,
                                              Failure failure) {
  getFirstCurriculum(lectureId, curriculumId, true, std::move(success), std::move(failure));
}

void LectureService::getFirstCurriculum(Id lectureId, Id curriculumId, bool all, CurriculumSuccess success,
                                        Failure failure) {
  backendApi_->getCurriculums(
      lectureId, std::nullopt, curriculumId, all, std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](
          std::optional<MappableArray<CurriculumResponse>> reply, std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        auto curriculum = reply->empty() ? nullptr : Curriculum::init((*reply)[0]);
        if (!curriculum) return failWithNetworkMessage(failure);
        success(curriculum);
      });
}

void LectureService::getQuizes(std::optional<Id> lectureId, std::optional<Id> curriculumId, QuizesSuccess success,
                               Failure failure) {
  backendApi_->getQuizes(
      std::nullopt, lectureId, curriculumId, false, std::nullopt, std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](std::optional<MappableArray<QuizResponse>> reply,
                                                                   std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        success(modelsFromReply<Quiz>(std::move(*reply)));
      });
}

void LectureService::getQuiz(Id quizId, QuizSuccess success, Failure failure) {
  backendApi_->getQuizes(
      quizId, std::nullopt, std::nullopt, true, std::nullopt, std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](std::optional<MappableArray<QuizResponse>> reply,
                                                                   std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        // The server answered: the quiz is gone (deleted meanwhile), which the screen says as such.
        if (reply->empty()) return success(nullptr);
        const QuizResponse& record = (*reply)[0];
        auto quiz = Quiz::init(record);
        if (!quiz) return failWithNetworkMessage(failure);
        if (record.question) {
          // A quiz short of one question would be taken and scored as a shorter quiz.
          if (record.hasUnusableQuestions) return failWithNetworkMessage(failure);
          std::vector<std::shared_ptr<QuizQuestion>> questions;
          questions.reserve(record.question->size());
          for (const auto& element : *record.question) {
            auto question = QuizQuestion::init(element);
            if (!question) return failWithNetworkMessage(failure);
            questions.push_back(std::move(question));
          }
          quiz->setQuestions(std::move(questions));
        }
        success(quiz);
      });
}

void LectureService::getBestQuizResults(std::optional<Id> curriculumId, BestResultsSuccess success, Failure failure) {
  backendApi_->getBestQuizResults(
      std::nullopt, curriculumId, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](
          std::optional<MappableArray<QuizResultResponse>> reply, std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        std::map<Id, double> results;
        for (const auto& item : *reply) {
          if (!item.quizId || !item.score || !item.maxScore) continue;
          const auto max = static_cast<double>(*item.maxScore);
          results[*item.quizId] = max == 0 ? 0.0 : *item.score / max;
        }
        success(results);
      });
}

void LectureService::saveQuizResults(const std::shared_ptr<Quiz>& quiz, SaveSuccess success, Failure failure) {
  if (!quiz || !quiz->questions() || quiz->questions()->empty()) return postNetworkFailure(std::move(failure));
  const auto& questions = *quiz->questions();
  QuizScore total = scoreQuiz(questions);

  SaveQuizResultsRequest result;
  result.quizId = quiz->id();
  result.score = total.score;
  result.time = 0;
  result.answersScore = std::move(total.answersScore);
  result.maxScore = total.max;
  result.mobileId = 0;
  result.date = Date::now();
  result.questionsId = std::move(total.questionsId);
  result.quizLevelId = quiz->level().id;

  const int questionCount = static_cast<int>(questions.size());
  const double fraction = total.max == 0 ? 0.0 : total.score / static_cast<double>(total.max);
  backendApi_->saveQuizResults(
      {std::move(result)},
      [questionCount, wrong = total.wrong, fraction, success = std::move(success), failure = std::move(failure)](
          std::optional<SaveQuizResultsResponse> reply, std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        success(questionCount, wrong, fraction);
      });
}

void LectureService::getDocuments(Id curriculumId, DocumentsSuccess success, Failure failure) {
  backendApi_->getDocuments(
      curriculumId, std::nullopt, std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](std::optional<MappableArray<DocumentResponse>> reply,
                                                                   std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        success(modelsFromReply<Attachment>(std::move(*reply)));
      });
}
