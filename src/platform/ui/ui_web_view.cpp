#include "platform/ui/ui_web_view.h"

namespace {

UIWebViewNavigationType navigationType(WebNavigationKind kind) {
  switch (kind) {
    case WebNavigationKind::LinkActivated: return UIWebViewNavigationType::LinkClicked;
    case WebNavigationKind::FormSubmitted: return UIWebViewNavigationType::FormSubmitted;
    case WebNavigationKind::BackForward: return UIWebViewNavigationType::BackForward;
    case WebNavigationKind::Reload: return UIWebViewNavigationType::Reload;
    case WebNavigationKind::Other: break;
  }
  return UIWebViewNavigationType::Other;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n;");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n;") - first + 1);
}

}  // namespace

std::shared_ptr<UIWebView> UIWebView::make(CGRect frame) { return std::make_shared<UIWebView>(frame); }

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script) const {
  if (trimmed(script) == "document.title") return engine().document().title.value_or("");
  return "";
}

void UIWebView::decidePolicy(const URLRequest& request, WebNavigationKind kind, std::function<void(bool)> decide) {
  auto keep = weak_from_this().lock();
  auto delegate = delegate_.lock();
  decide(!delegate || delegate->shouldStartLoadWithRequest(*this, request, navigationType(kind)));
}

void UIWebView::didStartLoad() {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->webViewDidStartLoad(*this);
}

void UIWebView::didFinishLoad() {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->webViewDidFinishLoad(*this);
}

void UIWebView::didFailLoad(const NSError& error) {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->didFailLoadWithError(*this, error);
}
