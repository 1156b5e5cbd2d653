#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/web_content_view.h"

class UIWebView;

enum class UIWebViewNavigationType {
  LinkClicked = 0,
  FormSubmitted = 1,
  BackForward = 2,
  Reload = 3,
  FormResubmitted = 4,
  Other = 5
};

// Every method has the platform's default answer. shouldStartLoadWithRequest is asked before
// every navigation and every redirect hop.
class UIWebViewDelegate {
 public:
  virtual ~UIWebViewDelegate() = default;
  virtual bool shouldStartLoadWithRequest(UIWebView&, const URLRequest&, UIWebViewNavigationType) { return true; }
  virtual void webViewDidStartLoad(UIWebView&) {}
  virtual void webViewDidFinishLoad(UIWebView&) {}
  virtual void didFailLoadWithError(UIWebView&, const NSError&) {}
};

// The older web view: the same pages, a delegate that answers at once, and a script hook that
// knows one expression. Without a delegate every navigation is allowed.
class UIWebView : public WebContentView {
 public:
  static std::shared_ptr<UIWebView> make(CGRect frame = {});
  explicit UIWebView(CGRect frame = {}) : WebContentView(frame) {}
  explicit UIWebView(const NSCoder&) : UIWebView(CGRect{}) {}

  std::shared_ptr<UIWebViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UIWebViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // The request of the page shown.
  const std::optional<URLRequest>& request() const { return engine().request(); }
  // There is no script engine: "document.title" answers the page's <title>; anything else "".
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script) const;

 protected:
  void decidePolicy(const URLRequest& request, WebNavigationKind kind, std::function<void(bool)> decide) override;
  void didStartLoad() override;
  void didFinishLoad() override;
  void didFailLoad(const NSError& error) override;

 private:
  std::weak_ptr<UIWebViewDelegate> delegate_;
};
