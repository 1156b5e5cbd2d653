#include "browse/quizes_view_controller.h"

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/browse_support.h"
#include "browse/quiz_list_cell.h"
#include "platform/foundation/bundle.h"
#include "quiz/quiz_container_view_controller.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"

QuizesViewController::QuizesViewController()
    : lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

QuizesViewController::QuizesViewController(const NSCoder& coder)
    : UIViewController(coder),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

void QuizesViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  connected(tableView, "tableView")->setTableFooterView(std::make_shared<UIView>(CGRect{}));
  navigationItem()->setTitle(NSLocalizedString("quizes_navigation_title"));
}

// The quizzes, then their best results: the table shows the new list once both are in.
void QuizesViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<QuizesViewController>();
  lectureService_->getQuizes(
      std::nullopt, curriculumId_,
      [self](const std::vector<std::shared_ptr<Quiz>>& quizes) {
        self->quizes_ = quizes;
        self->loadBestResults();
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
  analyticsScreenTracking(*this, "QuizesList");
}

void QuizesViewController::loadBestResults() {
  auto self = sharedAs<QuizesViewController>();
  lectureService_->getBestQuizResults(
      curriculumId_,
      [self](const std::map<std::int64_t, double>& results) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        self->bestResults_ = results;
        connected(self->tableView, "tableView")->reloadData();
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}

const Quiz* QuizesViewController::quizAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= quizes_.size()) return nullptr;
  return quizes_[static_cast<std::size_t>(row)].get();
}

std::shared_ptr<UITableViewCell> QuizesViewController::cellForRowAtIndexPath(UITableView& tableView,
                                                                             const NSIndexPath& indexPath) {
  auto cell =
      std::dynamic_pointer_cast<QuizListCell>(tableView.dequeueReusableCellWithIdentifier(kCellIdentifier, indexPath));
  if (!cell) fatalError(std::string("No cell of the right class for ") + kCellIdentifier);
  const Quiz* quiz = quizAt(indexPath.row);
  if (!quiz) {
    clearQuizListCell(*cell);
    return cell;
  }
  std::optional<double> best;
  if (auto found = bestResults_.find(quiz->id()); found != bestResults_.end()) best = found->second;
  fillQuizListCell(*cell, *quiz, best, lectureColor_);
  return cell;
}

void QuizesViewController::didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
  const Quiz* quiz = quizAt(indexPath.row);
  if (!quiz) return;
  auto container = MainViewControllerFactory::screenAs<QuizContainerViewController>(
      viewControllerFactory_->getQuizContainerViewController());
  container->lectureId = lectureId_;
  container->curriculumId = curriculumId_;
  container->quizId = quiz->id();
  container->lectureColor = lectureColor_;
  container->lectureTextColor = lectureTextColor_;
  pushIfStillShown(*this, container);
}
