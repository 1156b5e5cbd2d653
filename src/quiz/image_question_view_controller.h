#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/url.h"
#include "platform/ui/ui_image_view.h"
#include "quiz/simple_question_view_controller.h"

// The picture of an image question; it names where the picture came from once it is there.
class QuestionImageView : public UIImageView {
 public:
  using UIImageView::UIImageView;
  std::optional<URL> sourceURL() const { return sourceAddress_ ? URL::URLWithString(*sourceAddress_) : std::nullopt; }
  void setSourceURL(const std::optional<URL>& url) {
    sourceAddress_ = url ? std::optional(url->absoluteString()) : std::nullopt;
  }

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  // The address as text: a grid of achievements shows thousands of these.
  std::optional<std::string> sourceAddress_;
};

// A question whose material is a picture loaded from the URL in the question's data.
class ImageQuestionViewController : public SimpleQuestionViewController {
 public:
  ImageQuestionViewController() = default;
  explicit ImageQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}

  void viewDidLoad() override;

  std::weak_ptr<UIImageView> questionImageView;
};
