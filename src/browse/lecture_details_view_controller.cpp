#include "browse/lecture_details_view_controller.h"

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/attachment_view_controller.h"
#include "browse/browse_support.h"
#include "browse/curriculum_content_view_controller.h"
#include "browse/lecture_details_cells.h"
#include "browse/quizes_view_controller.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_table_view_row_action.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"

LectureDetailsViewController::LectureDetailsViewController() : LectureDetailsViewController(UITableViewStyle::Plain) {}

LectureDetailsViewController::LectureDetailsViewController(UITableViewStyle style)
    : UITableViewController(style),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

LectureDetailsViewController::LectureDetailsViewController(const NSCoder& coder)
    : UITableViewController(coder),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

const Lecture& LectureDetailsViewController::requiredLecture() const {
  if (!lecture_) fatalError("LectureDetailsViewController needs its lecture");
  return *lecture_;
}

void LectureDetailsViewController::viewDidLoad() {
  UITableViewController::viewDidLoad();
  const auto& lecture = requiredLecture();
  auto table = tableView();
  table->setRowHeight(UITableViewAutomaticDimension);
  table->setEstimatedRowHeight(75);
  table->setTableFooterView(std::make_shared<UIView>(CGRect{}));
  if (const auto& header = table->tableHeaderView()) {
    auto frame = header->frame();
    frame.size.height = view()->frame().size.height * 0.3;
    header->setFrame(frame);
  }
  setBrowsePicture(*connected(headerImageView, "headerImageView"), lecture.pictureUrl());
  barColoring_.apply(*this, requiredLecture().colors());
  navigationItem()->setTitle(lecture.name());
}

void LectureDetailsViewController::viewDidAppear(bool animated) {
  UITableViewController::viewDidAppear(animated);
  barColoring_.apply(*this, requiredLecture().colors());
}

void LectureDetailsViewController::viewWillAppear(bool animated) {
  UITableViewController::viewWillAppear(animated);
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<LectureDetailsViewController>();
  lectureService_->getCurriculums(
      requiredLecture().id(),
      [self](const std::vector<std::shared_ptr<Curriculum>>& curriculums) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        self->curriculums_ = curriculums;
        self->tableView()->reloadData();
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
  analyticsScreenTracking(*this, "LectureDetails");
}

int LectureDetailsViewController::numberOfRowsInSection(UITableView&, int section) {
  return section == 0 ? 1 : static_cast<int>(curriculums_.size());
}

template <class Cell>
static std::shared_ptr<Cell> dequeue(UITableView& tableView, const char* identifier) {
  auto cell = std::dynamic_pointer_cast<Cell>(tableView.dequeueReusableCellWithIdentifier(identifier));
  if (!cell) fatalError(std::string("No cell of the right class for ") + identifier);
  return cell;
}

std::shared_ptr<UITableViewCell> LectureDetailsViewController::cellForRowAtIndexPath(UITableView& tableView,
                                                                                     const NSIndexPath& indexPath) {
  if (indexPath.section == 0) {
    auto cell = dequeue<LectureDetailsDescriptionCell>(tableView, kDescriptionCell);
    connected(cell->descriptionLabel, "descriptionLabel")->setText(requiredLecture().description());
    return cell;
  }
  const auto& curriculum = *curriculums_.at(static_cast<std::size_t>(indexPath.row));
  auto cell = dequeue<LectureDetailsCurriculumCell>(tableView, kCurriculumCell);
  auto title = connected(cell->curriculumTitleLabel, "curriculumTitleLabel");
  auto subtitle = connected(cell->curriculumSubtitleLabel, "curriculumSubtitleLabel");
  title->setText(curriculum.name());
  subtitle->setText(curriculum.description());
  setBrowsePicture(*connected(cell->curriculumImageView, "curriculumImageView"), curriculum.pictureUrl());
  title->layoutIfNeeded();
  subtitle->layoutIfNeeded();
  return cell;
}

std::shared_ptr<UIView> LectureDetailsViewController::viewForHeaderInSection(UITableView& tableView, int section) {
  auto cell = dequeue<LectureDetailsHeaderCell>(tableView, kHeaderCell);
  auto title = connected(cell->titleLabel, "titleLabel");
  if (const auto& colors = requiredLecture().colors()) {
    cell->contentView()->setBackgroundColor(colors->primary);
    title->setTextColor(colors->primaryText);
  }
  title->setText(NSLocalizedString(section == 0 ? "lecturedetails_section_description_title"
                                                : "lecturedetails_section_curriculums_title"));
  return cell->contentView();
}

void LectureDetailsViewController::didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
  if (indexPath.section != 1) return;
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<LectureDetailsViewController>();
  lectureService_->getCurriculumWithContent(
      requiredLecture().id(), curriculums_.at(static_cast<std::size_t>(indexPath.row))->id(),
      [self](const std::shared_ptr<Curriculum>& curriculum) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        if (!curriculum->content()) {
          showAlert(*self, NSLocalizedString("lecturedetails_error_nocontent"));
          return;
        }
        auto content = MainViewControllerFactory::screenAs<CurriculumContentViewController>(
            self->viewControllerFactory_->getCurriculumContentViewController());
        const auto& lecture = self->requiredLecture();
        content->setLectureId(lecture.id());
        passLectureColors(*content, lecture.colors());
        content->setCurriculum(curriculum);
        pushIfStillShown(*self, content);
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}

std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>>
LectureDetailsViewController::editActionsForRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
  if (indexPath.section != 1) return std::nullopt;
  // The curriculum is the one swiped: a reload before the tap must not change it.
  const auto curriculumId = curriculums_.at(static_cast<std::size_t>(indexPath.row))->id();
  // The table keeps the shown actions, so they hold the screen weakly.
  std::weak_ptr<LectureDetailsViewController> weak = sharedAs<LectureDetailsViewController>();
  auto quiz = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Normal,
                                                       NSLocalizedString("lecturedetails_actions_quiz_title"),
                                                       [weak, curriculumId](UITableViewRowAction&, const NSIndexPath&) {
                                                         if (auto self = weak.lock()) self->showQuizes(curriculumId);
                                                       });
  auto attachments = UITableViewRowAction::rowActionWithStyle(
      UITableViewRowActionStyle::Normal, NSLocalizedString("lecturedetails_actions_attachments_title"),
      [weak, curriculumId](UITableViewRowAction&, const NSIndexPath&) {
        if (auto self = weak.lock()) self->showAttachments(curriculumId);
      });
  attachments->setBackgroundColor(UIColor::darkGrayColor());
  return std::vector<std::shared_ptr<UITableViewRowAction>>{quiz, attachments};
}

void LectureDetailsViewController::showQuizes(std::int64_t curriculumId) {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<LectureDetailsViewController>();
  lectureService_->getQuizes(
      requiredLecture().id(), curriculumId,
      [self, curriculumId](const std::vector<std::shared_ptr<Quiz>>& quizes) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        if (quizes.empty()) {
          showAlert(*self, NSLocalizedString("lecturedetails_error_noquiz"));
          return;
        }
        auto list = MainViewControllerFactory::screenAs<QuizesViewController>(
            self->viewControllerFactory_->getQuizesViewController());
        const auto& lecture = self->requiredLecture();
        list->setLectureId(lecture.id());
        passLectureColors(*list, lecture.colors());
        list->setCurriculumId(curriculumId);
        list->setQuizes(quizes);
        pushIfStillShown(*self, list);
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}

void LectureDetailsViewController::showAttachments(std::int64_t curriculumId) {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<LectureDetailsViewController>();
  lectureService_->getDocuments(
      curriculumId,
      [self](const std::vector<std::shared_ptr<Attachment>>& documents) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        if (documents.empty()) {
          showAlert(*self, NSLocalizedString("lecturedetails_error_noattachment"));
          return;
        }
        auto attachments = MainViewControllerFactory::screenAs<AttachmentViewController>(
            self->viewControllerFactory_->getAttachmentViewController());
        attachments->setAttachments(documents);
        pushIfStillShown(*self, attachments);
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}
