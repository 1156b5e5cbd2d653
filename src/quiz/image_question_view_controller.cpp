#include "quiz/image_question_view_controller.h"

#include "app/required_outlet.h"
#include "platform/frameworks/image_loading.h"
#include "platform/ui/render.h"

void QuestionImageView::renderSelf(TextCanvas& canvas) const {
  if (image() && sourceAddress_) canvas.line("(image " + *sourceAddress_ + ": " + image()->description() + ")");
}

void ImageQuestionViewController::viewDidLoad() {
  SimpleQuestionViewController::viewDidLoad();
  auto imageView = requiredOutlet(questionImageView, "questionImageView");
  // Without a URL there is nothing to ask for: the view stays empty, as when the picture fails.
  const auto& data = quizQuestion()->data();
  auto url = data ? URL::URLWithString(*data) : std::nullopt;
  if (!url) return;
  if (auto named = std::dynamic_pointer_cast<QuestionImageView>(imageView)) named->setSourceURL(url);
  hnk_setImageFromURL(*imageView, *url);
}
