#pragma once

#include <memory>
#include <string>

#include "browse/lecture_grid_view_controller.h"

// The Quizzes tab: the lectures that have quizzes, from the lecture service's own cache; a tile
// opens the lecture's curricula with the student's progress. A failed load says nothing.
class LectureQuizesViewController : public LectureGridViewController {
 public:
  using LectureGridViewController::LectureGridViewController;

  // This tab's load, from the lectures with quizzes; both the appearing and the pull come here.
  virtual void getLectureQuizData(bool useCache);

 protected:
  void load(bool useCache) override { getLectureQuizData(useCache); }
  std::string tabTitleKey() const override { return "lecturequizes_tabbar_title"; }
  std::string navigationTitleKey() const override { return "lecturequizes_navigation_title"; }
  std::string screenName() const override { return "LectureQuizes"; }
  void loadDidFail(const std::string&) override {}
  std::shared_ptr<UIViewController> screenForLecture(const std::shared_ptr<Lecture>& lecture) override;
};
