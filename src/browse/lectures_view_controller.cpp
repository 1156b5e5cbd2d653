#include "browse/lectures_view_controller.h"

#include "services/lecture_service.h"

void LecturesViewController::fetchLectures(bool useCache, std::function<void(const Lectures&)> success,
                                           std::function<void(const std::string&)> failure) {
  lectureService_->getAvailableLectures(useCache, std::move(success), std::move(failure));
}
