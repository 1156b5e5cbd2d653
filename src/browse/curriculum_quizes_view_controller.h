#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browse/browse_support.h"
#include "model/curriculum.h"
#include "model/lecture.h"
#include "model/quiz.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_view_controller.h"

class LectureService;
class MainViewControllerFactory;

// A lecture's curricula that have quizzes, each with the student's progress: how many of the
// lecture's quizzes in it have a best result, out of how many there are. A row opens the
// curriculum's quiz list. Every appearance loads afresh: the lecture's quizzes, then each curriculum
// they name, then each curriculum's best results; replies of an earlier appearance are dropped.
class CurriculumQuizesViewController : public UIViewController,
                                       public UITableViewDataSource,
                                       public UITableViewDelegate {
 public:
  using Id = std::int64_t;
  struct QuizCount {
    int Done = 0;
    int Total = 0;
    bool operator==(const QuizCount&) const = default;
  };

  CurriculumQuizesViewController();
  explicit CurriculumQuizesViewController(const NSCoder& coder);

  std::weak_ptr<UITableView> tableView;

  // Required before the view loads.
  const std::shared_ptr<Lecture>& lecture() const { return lecture_; }
  void setLecture(std::shared_ptr<Lecture> lecture) { lecture_ = std::move(lecture); }
  const std::vector<std::shared_ptr<Curriculum>>& curriculums() const { return curriculums_; }
  void setCurriculums(std::vector<std::shared_ptr<Curriculum>> curriculums) { curriculums_ = std::move(curriculums); }
  // Curriculum id to its progress.
  const std::map<Id, QuizCount>& quizesDone() const { return quizesDone_; }
  void setQuizesDone(std::map<Id, QuizCount> quizesDone) { quizesDone_ = std::move(quizesDone); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

  int numberOfRowsInSection(UITableView& tableView, int section) override;
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  void didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;

 private:
  const Lecture& requiredLecture() const;
  void quizesArrived(unsigned generation, const std::vector<std::shared_ptr<Quiz>>& quizes);
  void curriculumArrived(unsigned generation, Id curriculumId, const std::shared_ptr<Curriculum>& curriculum);
  void bestResultsArrived(unsigned generation, Id curriculumId, const std::map<Id, double>& results);
  std::function<void(const std::string&)> failureHandler(unsigned generation);
  // Whether a reply belongs to an earlier appearance; such a reply only hides the overlay it showed.
  bool dropStale(unsigned generation) const;

  const std::shared_ptr<LectureService> lectureService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  std::shared_ptr<Lecture> lecture_;
  std::vector<std::shared_ptr<Curriculum>> curriculums_;
  std::map<Id, QuizCount> quizesDone_;
  unsigned generation_ = 0;
  LectureBarColoring barColoring_;
};
