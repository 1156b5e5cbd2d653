#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "curriculumContentViewController"; the screen itself comes later.
class CurriculumContentViewController : public UIViewController {
 public:
  CurriculumContentViewController() = default;
  explicit CurriculumContentViewController(const NSCoder& coder) : UIViewController(coder) {}
};
