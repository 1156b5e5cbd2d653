#include "browse/lectures_view_controller.h"

#include "app/main_view_controller_factory.h"
#include "browse/lecture_details_view_controller.h"
#include "services/lecture_service.h"

void LecturesViewController::load(bool useCache) {
  loadLectures(useCache, [service = lectureService_](bool cache, auto success, auto failure) {
    service->getAvailableLectures(cache, std::move(success), std::move(failure));
  });
}

std::shared_ptr<UIViewController> LecturesViewController::screenForLecture(const std::shared_ptr<Lecture>& lecture) {
  auto details = MainViewControllerFactory::screenAs<LectureDetailsViewController>(
      viewControllerFactory_->getLectureDetailsViewController());
  details->setLecture(lecture);
  return details;
}
