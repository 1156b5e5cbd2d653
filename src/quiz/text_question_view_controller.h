#pragma once

#include "quiz/simple_question_view_controller.h"

// Placeholder for the "Main" storyboard's scene "textQuestionViewController"; the screen itself comes later.
class TextQuestionViewController : public SimpleQuestionViewController {
 public:
  TextQuestionViewController() = default;
  explicit TextQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}
};
