#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "lectureDetailsViewController"; the screen itself comes later.
class LectureDetailsViewController : public UIViewController {
 public:
  LectureDetailsViewController() = default;
  explicit LectureDetailsViewController(const NSCoder& coder) : UIViewController(coder) {}
};
