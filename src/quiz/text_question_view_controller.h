#pragma once

#include <memory>

#include "platform/ui/wk_web_view.h"
#include "quiz/simple_question_view_controller.h"

// A question whose material is the HTML in the question's data, shown in a web view that fills
// `webViewContainer`.
class TextQuestionViewController : public SimpleQuestionViewController {
 public:
  TextQuestionViewController() = default;
  explicit TextQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}

  void viewDidLoad() override;

  const std::shared_ptr<WKWebView>& webView() const { return webView_; }
  void setWebView(std::shared_ptr<WKWebView> view) { webView_ = std::move(view); }

  std::weak_ptr<UIView> webViewContainer;

 private:
  std::shared_ptr<WKWebView> webView_;
};
