#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "simpleQuestionViewController"; the screen itself comes later.
class SimpleQuestionViewController : public UIViewController {
 public:
  SimpleQuestionViewController() = default;
  explicit SimpleQuestionViewController(const NSCoder& coder) : UIViewController(coder) {}
};
