#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "quizContainerViewController"; the screen itself comes later.
class QuizContainerViewController : public UIViewController {
 public:
  QuizContainerViewController() = default;
  explicit QuizContainerViewController(const NSCoder& coder) : UIViewController(coder) {}
};
