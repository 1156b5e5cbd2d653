#include "browse/curriculum_quizes_view_controller.h"

#include <set>

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/curriculum_quiz_cell.h"
#include "browse/quizes_view_controller.h"
#include "platform/ui/ui_navigation_controller.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"

CurriculumQuizesViewController::CurriculumQuizesViewController()
    : lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

CurriculumQuizesViewController::CurriculumQuizesViewController(const NSCoder& coder)
    : UIViewController(coder),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

const Lecture& CurriculumQuizesViewController::requiredLecture() const {
  if (!lecture_) fatalError("CurriculumQuizesViewController needs its lecture");
  return *lecture_;
}

void CurriculumQuizesViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  const auto& lecture = requiredLecture();
  auto table = requiredOutlet(tableView, "tableView");
  table->setRowHeight(UITableViewAutomaticDimension);
  table->setEstimatedRowHeight(55);
  table->setTableFooterView(std::make_shared<UIView>(CGRect{}));
  barColoring_.apply(*this, lecture.colors());
  navigationItem()->setTitle(lecture.name());
}

void CurriculumQuizesViewController::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  barColoring_.apply(*this, requiredLecture().colors());
}

void CurriculumQuizesViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  curriculums_.clear();
  quizesDone_.clear();
  const unsigned generation = ++generation_;
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<CurriculumQuizesViewController>();
  lectureService_->getQuizes(
      requiredLecture().id(), std::nullopt,
      [self, generation](const std::vector<std::shared_ptr<Quiz>>& quizes) { self->quizesArrived(generation, quizes); },
      failureHandler(generation));
  analyticsScreenTracking(*this, "CurriculumQuizes");
}

void CurriculumQuizesViewController::quizesArrived(unsigned generation,
                                                   const std::vector<std::shared_ptr<Quiz>>& quizes) {
  if (dropStale(generation)) return;
  // Ascending, so the requests go out in a fixed order.
  std::set<Id> curriculumIds;
  for (const auto& quiz : quizes) {
    curriculumIds.insert(quiz->curriculumId());
    ++quizesDone_[quiz->curriculumId()].Total;
  }
  if (curriculumIds.empty()) {
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    requiredOutlet(tableView, "tableView")->reloadData();
    return;
  }
  auto self = sharedAs<CurriculumQuizesViewController>();
  for (const Id id : curriculumIds) {
    ProgressIndicatorHelper::instance()->showProgressIndicator();
    lectureService_->getCurriculum(
        requiredLecture().id(), id,
        [self, generation, id](const std::shared_ptr<Curriculum>& curriculum) {
          self->curriculumArrived(generation, id, curriculum);
        },
        failureHandler(generation));
  }
}

void CurriculumQuizesViewController::curriculumArrived(unsigned generation, Id curriculumId,
                                                       const std::shared_ptr<Curriculum>& curriculum) {
  if (dropStale(generation)) return;
  curriculums_.push_back(curriculum);
  auto self = sharedAs<CurriculumQuizesViewController>();
  lectureService_->getBestQuizResults(
      curriculumId,
      [self, generation, curriculumId](const std::map<Id, double>& results) {
        self->bestResultsArrived(generation, curriculumId, results);
      },
      failureHandler(generation));
}

void CurriculumQuizesViewController::bestResultsArrived(unsigned generation, Id curriculumId,
                                                        const std::map<Id, double>& results) {
  if (dropStale(generation)) return;
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  // Every quiz with a result counts, even past the total.
  if (auto count = quizesDone_.find(curriculumId); count != quizesDone_.end())
    count->second.Done = static_cast<int>(results.size());
  requiredOutlet(tableView, "tableView")->reloadData();
}

std::function<void(const std::string&)> CurriculumQuizesViewController::failureHandler(unsigned generation) {
  auto self = sharedAs<CurriculumQuizesViewController>();
  return [self, generation, alert = hideOverlayAndAlert(self)](const std::string& message) {
    if (!self->dropStale(generation)) alert(message);
  };
}

bool CurriculumQuizesViewController::dropStale(unsigned generation) const {
  if (generation == generation_) return false;
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  return true;
}

int CurriculumQuizesViewController::numberOfRowsInSection(UITableView&, int) {
  return static_cast<int>(curriculums_.size());
}

std::shared_ptr<UITableViewCell> CurriculumQuizesViewController::cellForRowAtIndexPath(UITableView& table,
                                                                                       const NSIndexPath& indexPath) {
  const auto row = static_cast<std::size_t>(indexPath.row);
  // From a new appearance's clear to its first reload the table still counts the old rows.
  if (row >= curriculums_.size()) return std::make_shared<UITableViewCell>();
  const auto& curriculum = *curriculums_[row];
  auto cell = cellAs<CurriculumQuizCell>(
      table.dequeueReusableCellWithIdentifier(CurriculumQuizCell::kReuseIdentifier, indexPath),
      CurriculumQuizCell::kReuseIdentifier);
  auto name = requiredOutlet(cell->curriculumNameLabel, "curriculumNameLabel");
  name->setText(curriculum.name());
  name->layoutIfNeeded();
  const auto count = quizesDone_.find(curriculum.id());
  requiredOutlet(cell->quizCountLabel, "quizCountLabel")
      ->setText(count == quizesDone_.end()
                    ? ""
                    : std::to_string(count->second.Done) + "/" + std::to_string(count->second.Total));
  setBrowsePicture(*requiredOutlet(cell->curriculumImageView, "curriculumImageView"), curriculum.pictureUrl());
  return cell;
}

void CurriculumQuizesViewController::didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
  const auto row = static_cast<std::size_t>(indexPath.row);
  if (row >= curriculums_.size()) return;
  const auto& lecture = requiredLecture();
  auto quizes =
      MainViewControllerFactory::screenAs<QuizesViewController>(viewControllerFactory_->getQuizesViewController());
  quizes->setLectureId(lecture.id());
  passLectureColors(*quizes, lecture.colors());
  quizes->setCurriculumId(curriculums_[row]->id());
  auto nav = navigationController();
  if (!nav) fatalError("The curriculum quizzes must sit in a navigation controller");
  nav->pushViewController(quizes, true);
}
