#pragma once

#include "quiz/simple_question_view_controller.h"

// Placeholder for the "Main" storyboard's scene "imageQuestionViewController"; the screen itself comes later.
class ImageQuestionViewController : public SimpleQuestionViewController {
 public:
  ImageQuestionViewController() = default;
  explicit ImageQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}
};
