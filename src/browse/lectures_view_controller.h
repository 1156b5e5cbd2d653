#pragma once

#include <memory>
#include <string>

#include "browse/lecture_grid_view_controller.h"

// The Lectures tab: every lecture open to the student; a tile opens the lecture's details.
class LecturesViewController : public LectureGridViewController {
 public:
  using LectureGridViewController::LectureGridViewController;

 protected:
  void load(bool useCache) override;
  std::string tabTitleKey() const override { return "lectures_tabbar_title"; }
  std::string navigationTitleKey() const override { return "lectures_navigation_title"; }
  std::string screenName() const override { return "Lectures"; }
  std::shared_ptr<UIViewController> screenForLecture(const std::shared_ptr<Lecture>& lecture) override;
};
