#pragma once

#include <memory>
#include <optional>

#include "platform/foundation/url.h"
#include "platform/ui/ui_image_view.h"
#include "quiz/simple_question_view_controller.h"

// The picture of an image question; it names where the picture came from once it is there.
class QuestionImageView : public UIImageView {
 public:
  using UIImageView::UIImageView;
  const std::optional<URL>& sourceURL() const { return sourceURL_; }
  void setSourceURL(std::optional<URL> url) { sourceURL_ = std::move(url); }

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  std::optional<URL> sourceURL_;
};

// A question whose material is a picture loaded from the URL in the question's data.
class ImageQuestionViewController : public SimpleQuestionViewController {
 public:
  ImageQuestionViewController() = default;
  explicit ImageQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}

  void viewDidLoad() override;

  std::weak_ptr<UIImageView> questionImageView;
};
