#pragma once

#include "quiz/simple_question_view_controller.h"

// Placeholder for the "Main" storyboard's scene "videoQuestionViewController"; the screen itself comes later.
class VideoQuestionViewController : public SimpleQuestionViewController {
 public:
  VideoQuestionViewController() = default;
  explicit VideoQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}
};
