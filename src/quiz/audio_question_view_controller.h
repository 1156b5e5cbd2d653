#pragma once

#include "quiz/simple_question_view_controller.h"

// Placeholder for the "Main" storyboard's scene "audioQuestionViewController"; the screen itself comes later.
class AudioQuestionViewController : public SimpleQuestionViewController {
 public:
  AudioQuestionViewController() = default;
  explicit AudioQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}
};
