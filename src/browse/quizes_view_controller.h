#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "model/quiz.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "quizesViewController": a curriculum's quizzes.
// The opener sets its inputs before the push.
class QuizesViewController : public UIViewController {
 public:
  QuizesViewController() = default;
  explicit QuizesViewController(const NSCoder& coder) : UIViewController(coder) {}

  const std::optional<std::int64_t>& lectureId() const { return lectureId_; }
  void setLectureId(std::optional<std::int64_t> id) { lectureId_ = id; }
  const std::optional<UIColor>& lectureColor() const { return lectureColor_; }
  void setLectureColor(std::optional<UIColor> color) { lectureColor_ = color; }
  const std::optional<UIColor>& lectureTextColor() const { return lectureTextColor_; }
  void setLectureTextColor(std::optional<UIColor> color) { lectureTextColor_ = color; }
  const std::optional<std::int64_t>& curriculumId() const { return curriculumId_; }
  void setCurriculumId(std::optional<std::int64_t> id) { curriculumId_ = id; }
  const std::vector<std::shared_ptr<Quiz>>& quizes() const { return quizes_; }
  void setQuizes(std::vector<std::shared_ptr<Quiz>> quizes) { quizes_ = std::move(quizes); }

 private:
  std::optional<std::int64_t> lectureId_;
  std::optional<UIColor> lectureColor_;
  std::optional<UIColor> lectureTextColor_;
  std::optional<std::int64_t> curriculumId_;
  std::vector<std::shared_ptr<Quiz>> quizes_;
};
