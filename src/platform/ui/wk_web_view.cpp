#include "platform/ui/wk_web_view.h"

namespace {

WKNavigationType navigationType(WebNavigationKind kind) {
  switch (kind) {
    case WebNavigationKind::LinkActivated: return WKNavigationType::LinkActivated;
    case WebNavigationKind::FormSubmitted: return WKNavigationType::FormSubmitted;
    case WebNavigationKind::BackForward: return WKNavigationType::BackForward;
    case WebNavigationKind::Reload: return WKNavigationType::Reload;
    case WebNavigationKind::Other: break;
  }
  return WKNavigationType::Other;
}

}  // namespace

std::shared_ptr<WKWebView> WKWebView::make(CGRect frame) { return std::make_shared<WKWebView>(frame); }

std::optional<std::string> WKWebView::title() const {
  if (!engine().url()) return std::nullopt;
  return engine().document().title.value_or("");
}

void WKWebView::decidePolicy(const URLRequest& request, WebNavigationKind kind, std::function<void(bool)> decide) {
  auto delegate = delegate_.lock();
  if (!delegate) return decide(true);
  auto keep = weak_from_this().lock();
  delegate->decidePolicyForNavigationAction(*this, WKNavigationAction{request, navigationType(kind)},
                                            [decide = std::move(decide)](WKNavigationActionPolicy policy) {
                                              decide(policy == WKNavigationActionPolicy::Allow);
                                            });
}

void WKWebView::didStartLoad() {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->didStartProvisionalNavigation(*this);
}

void WKWebView::didReceiveRedirect() {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->didReceiveServerRedirectForProvisionalNavigation(*this);
}

void WKWebView::didFinishLoad() {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->didFinishNavigation(*this);
}

void WKWebView::didFailLoad(const NSError& error) {
  auto keep = weak_from_this().lock();
  if (auto delegate = delegate_.lock()) delegate->didFailProvisionalNavigation(*this, error);
}
