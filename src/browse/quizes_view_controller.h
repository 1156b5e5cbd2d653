#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "quizesViewController"; the screen itself comes later.
class QuizesViewController : public UIViewController {
 public:
  QuizesViewController() = default;
  explicit QuizesViewController(const NSCoder& coder) : UIViewController(coder) {}
};
