#include "browse/lecture_quizes_view_controller.h"

#include "app/main_view_controller_factory.h"
#include "browse/curriculum_quizes_view_controller.h"
#include "services/lecture_service.h"

void LectureQuizesViewController::getLectureQuizData(bool useCache) {
  loadLectures(useCache, [service = lectureService_](bool cache, auto success, auto failure) {
    service->getLecturesWithQuiz(cache, std::move(success), std::move(failure));
  });
}

std::shared_ptr<UIViewController> LectureQuizesViewController::screenForLecture(
    const std::shared_ptr<Lecture>& lecture) {
  auto curricula = MainViewControllerFactory::screenAs<CurriculumQuizesViewController>(
      viewControllerFactory_->getCurriculumQuizesViewController());
  curricula->setLecture(lecture);
  return curricula;
}
