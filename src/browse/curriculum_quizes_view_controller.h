#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "curriculumQuizesViewController"; the screen itself comes later.
class CurriculumQuizesViewController : public UIViewController {
 public:
  CurriculumQuizesViewController() = default;
  explicit CurriculumQuizesViewController(const NSCoder& coder) : UIViewController(coder) {}
};
