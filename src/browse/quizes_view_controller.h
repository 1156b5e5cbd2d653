#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "model/quiz.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_view_controller.h"

class LectureService;
class MainViewControllerFactory;

// A curriculum's quizzes with the student's best result of each; a quiz opens the quiz container.
// The opener sets the inputs before the push; the list is loaded again on every appearance, the
// quizzes first, then their best results.
class QuizesViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  static constexpr const char* kCellIdentifier = "quizListCell";

  QuizesViewController();
  explicit QuizesViewController(const NSCoder& coder);

  std::weak_ptr<UITableView> tableView;

  const std::optional<std::int64_t>& lectureId() const { return lectureId_; }
  void setLectureId(std::optional<std::int64_t> id) { lectureId_ = id; }
  const std::optional<UIColor>& lectureColor() const { return lectureColor_; }
  void setLectureColor(std::optional<UIColor> color) { lectureColor_ = color; }
  const std::optional<UIColor>& lectureTextColor() const { return lectureTextColor_; }
  void setLectureTextColor(std::optional<UIColor> color) { lectureTextColor_ = color; }
  const std::optional<std::int64_t>& curriculumId() const { return curriculumId_; }
  void setCurriculumId(std::optional<std::int64_t> id) { curriculumId_ = id; }
  const std::vector<std::shared_ptr<Quiz>>& quizes() const { return quizes_; }
  void setQuizes(std::vector<std::shared_ptr<Quiz>> quizes) { quizes_ = std::move(quizes); }
  // Quiz id to the best result as a fraction of the maximum.
  const std::map<std::int64_t, double>& bestResults() const { return bestResults_; }
  void setBestResults(std::map<std::int64_t, double> results) { bestResults_ = std::move(results); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfSectionsInTableView(UITableView&) override { return 1; }
  int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(quizes_.size()); }
  // Until the table reloads it may count rows the new list lacks: such a row is a blank cell.
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  // A row the list lacks does nothing.
  void didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;

 private:
  void loadBestResults();
  const Quiz* quizAt(int row) const;

  const std::shared_ptr<LectureService> lectureService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  std::optional<std::int64_t> lectureId_;
  std::optional<UIColor> lectureColor_;
  std::optional<UIColor> lectureTextColor_;
  std::optional<std::int64_t> curriculumId_;
  std::vector<std::shared_ptr<Quiz>> quizes_;
  std::map<std::int64_t, double> bestResults_;
};
