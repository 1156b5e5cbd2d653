#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "browse/browse_support.h"
#include "model/curriculum.h"
#include "model/lecture.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_table_view_controller.h"

class LectureService;
class MainViewControllerFactory;

// A lecture's description and its curricula. A curriculum opens its content; a swipe offers its
// quizzes and its attachments.
class LectureDetailsViewController : public UITableViewController {
 public:
  static constexpr const char* kDescriptionCell = "descriptionCell";
  static constexpr const char* kCurriculumCell = "detailsCell";
  static constexpr const char* kHeaderCell = "sectionHeaderCell";

  LectureDetailsViewController();
  explicit LectureDetailsViewController(UITableViewStyle style);
  explicit LectureDetailsViewController(const NSCoder& coder);

  std::weak_ptr<UIImageView> headerImageView;

  // Required before the view loads.
  const std::shared_ptr<Lecture>& lecture() const { return lecture_; }
  void setLecture(std::shared_ptr<Lecture> lecture) { lecture_ = std::move(lecture); }
  const std::vector<std::shared_ptr<Curriculum>>& curriculums() const { return curriculums_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

  int numberOfSectionsInTableView(UITableView&) override { return curriculums_.empty() ? 1 : 2; }
  int numberOfRowsInSection(UITableView& tableView, int section) override;
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  std::shared_ptr<UIView> viewForHeaderInSection(UITableView& tableView, int section) override;
  void didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  bool canEditRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) override { return indexPath.section == 1; }
  void commitEditingStyle(UITableView&, UITableViewCellEditingStyle, const NSIndexPath&) override {}
  std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(
      UITableView& tableView, const NSIndexPath& indexPath) override;

 private:
  const Lecture& requiredLecture() const;
  void showQuizes(std::int64_t curriculumId);
  void showAttachments(std::int64_t curriculumId);

  const std::shared_ptr<LectureService> lectureService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  std::shared_ptr<Lecture> lecture_;
  std::vector<std::shared_ptr<Curriculum>> curriculums_;
  LectureBarColoring barColoring_;
};
