#include "quiz/text_question_view_controller.h"

#include "app/text_utilities.h"
#include "platform/ui/ns_layout_constraint.h"
#include "quiz/question_outlet.h"

void TextQuestionViewController::viewDidLoad() {
  SimpleQuestionViewController::viewDidLoad();
  auto container = requiredQuestionOutlet(webViewContainer, "webViewContainer");
  webView_ = WKWebView::make();
  webView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  container->addSubview(webView_);
  std::vector<std::shared_ptr<NSLayoutConstraint>> edges;
  for (auto edge :
       {NSLayoutAttribute::Top, NSLayoutAttribute::Bottom, NSLayoutAttribute::Trailing, NSLayoutAttribute::Leading})
    edges.push_back(
        NSLayoutConstraint::constraintWithItem(webView_, edge, NSLayoutRelation::Equal, container, edge, 1, 0));
  container->addConstraints(edges);
  // The container shows a text question only when it has data.
  webView_->loadHTMLString(htmlViewportHeader() + quizQuestion()->data().value_or(""), std::nullopt);
}
