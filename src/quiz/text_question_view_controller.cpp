#include "quiz/text_question_view_controller.h"

#include "app/required_outlet.h"
#include "app/text_utilities.h"
#include "platform/ui/ns_layout_constraint.h"
#include "quiz/quiz_support.h"

void TextQuestionViewController::viewDidLoad() {
  SimpleQuestionViewController::viewDidLoad();
  auto container = requiredOutlet(webViewContainer, "webViewContainer");
  webView_ = WKWebView::make();
  webView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  container->addSubview(webView_);
  container->addConstraints(edgeConstraints(
      webView_, container,
      {NSLayoutAttribute::Top, NSLayoutAttribute::Bottom, NSLayoutAttribute::Trailing, NSLayoutAttribute::Leading}));
  // The container shows a text question only when it has data.
  webView_->loadHTMLString(htmlViewportHeader() + quizQuestion()->data().value_or(""), std::nullopt);
}
