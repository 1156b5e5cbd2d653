#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend/backend_api.h"
#include "model/attachment.h"
#include "model/curriculum.h"
#include "model/lecture.h"
#include "model/quiz.h"

// Lectures, curricula, quizzes, quiz results and documents for the screens, with the two lecture
// lists cached. Every operation answers once: success with models, or failure with the one message
// of the error handler. Only a cached lecture list answers inside the call; every other answer comes
// on the main run loop. Main thread only.
class LectureService : public std::enable_shared_from_this<LectureService> {
 public:
  using Id = std::int64_t;
  using Failure = std::function<void(const std::string& message)>;
  using LecturesSuccess = std::function<void(const std::vector<std::shared_ptr<Lecture>>& lectures)>;
  using CurriculumsSuccess = std::function<void(const std::vector<std::shared_ptr<Curriculum>>& curriculums)>;
  using CurriculumSuccess = std::function<void(const std::shared_ptr<Curriculum>& curriculum)>;
  using QuizesSuccess = std::function<void(const std::vector<std::shared_ptr<Quiz>>& quizes)>;
  using QuizSuccess = std::function<void(const std::shared_ptr<Quiz>& quiz)>;
  // Quiz id to the best result as a fraction of the maximum; 0 for a maximum of 0.
  using BestResultsSuccess = std::function<void(const std::map<Id, double>& results)>;
  // `result` is the score as a fraction of the maximum; 0 for a maximum of 0.
  using SaveSuccess = std::function<void(int questionCount, int wrongCount, double result)>;
  using DocumentsSuccess = std::function<void(const std::vector<std::shared_ptr<Attachment>>& documents)>;

  explicit LectureService(std::shared_ptr<BackendApi> backendApi);
  virtual ~LectureService() = default;

  const std::shared_ptr<BackendApi>& backendApi() const { return backendApi_; }
  void setBackendApi(std::shared_ptr<BackendApi> backendApi) { backendApi_ = std::move(backendApi); }
  // The last lecture lists, sorted by name.
  const std::vector<std::shared_ptr<Lecture>>& lectures() const { return lectures_; }
  void setLectures(std::vector<std::shared_ptr<Lecture>> lectures) { lectures_ = std::move(lectures); }
  const std::vector<std::shared_ptr<Lecture>>& quizLectures() const { return quizLectures_; }
  void setQuizLectures(std::vector<std::shared_ptr<Lecture>> lectures) { quizLectures_ = std::move(lectures); }

  // Empties both lecture lists, so the next cached request fetches again.
  virtual void clearCache();
  // With `useCache` and a non-empty list, success gets the list before this returns and nothing is
  // sent; otherwise the fetched list, sorted by name, replaces the cache. A failure keeps it.
  virtual void getAvailableLectures(bool useCache, LecturesSuccess success, Failure failure);
  void getAvailableLectures(LecturesSuccess success, Failure failure);
  virtual void getLecturesWithQuiz(bool useCache, LecturesSuccess success, Failure failure);
  void getLecturesWithQuiz(LecturesSuccess success, Failure failure);
  virtual void getCurriculums(Id lectureId, CurriculumsSuccess success, Failure failure);
  // The first curriculum of the reply; an empty reply fails with the network message.
  virtual void getCurriculum(Id lectureId, Id curriculumId, CurriculumSuccess success, Failure failure);
  virtual void getCurriculumWithContent(Id lectureId, Id curriculumId, CurriculumSuccess success, Failure failure);
  virtual void getQuizes(std::optional<Id> lectureId, std::optional<Id> curriculumId, QuizesSuccess success,
                         Failure failure);
  // The first quiz of the reply with its questions in reply order. A reply without a quiz
  // succeeds with no quiz; one with a question that cannot be made fails with the network
  // message; a quiz that came without a question list succeeds with `questions` absent.
  virtual void getQuiz(Id quizId, QuizSuccess success, Failure failure);
  // A later result of the same quiz replaces an earlier one.
  virtual void getBestQuizResults(std::optional<Id> curriculumId, BestResultsSuccess success, Failure failure);
  // Scores the answered quiz and saves the result; a quiz without questions fails with the network
  // message and sends nothing.
  virtual void saveQuizResults(const std::shared_ptr<Quiz>& quiz, SaveSuccess success, Failure failure);
  virtual void getDocuments(Id curriculumId, DocumentsSuccess success, Failure failure);

 private:
  enum class LectureList { available, withQuiz };
  void getLectures(LectureList list, bool useCache, LecturesSuccess success, Failure failure);
  std::vector<std::shared_ptr<Lecture>>& cache(LectureList list) {
    return list == LectureList::available ? lectures_ : quizLectures_;
  }
  void getFirstCurriculum(Id lectureId, Id curriculumId, bool all, CurriculumSuccess success, Failure failure);

  std::shared_ptr<BackendApi> backendApi_;
  std::vector<std::shared_ptr<Lecture>> lectures_;
  std::vector<std::shared_ptr<Lecture>> quizLectures_;
};
