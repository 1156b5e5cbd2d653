#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/web_content_view.h"

class WKWebView;

enum class WKNavigationType {
  LinkActivated = 0,
  FormSubmitted = 1,
  BackForward = 2,
  Reload = 3,
  FormResubmitted = 4,
  Other = -1
};
enum class WKNavigationActionPolicy { Cancel = 0, Allow = 1 };

struct WKNavigationAction {
  URLRequest request;
  WKNavigationType navigationType = WKNavigationType::Other;
};

// Every method has the platform's default answer. The policy question comes before every
// navigation and every redirect hop; the handler may be called later, and once.
class WKNavigationDelegate {
 public:
  virtual ~WKNavigationDelegate() = default;
  virtual void decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction&,
                                               std::function<void(WKNavigationActionPolicy)> decisionHandler) {
    decisionHandler(WKNavigationActionPolicy::Allow);
  }
  virtual void didStartProvisionalNavigation(WKWebView&) {}
  virtual void didReceiveServerRedirectForProvisionalNavigation(WKWebView&) {}
  virtual void didFinishNavigation(WKWebView&) {}
  virtual void didFailProvisionalNavigation(WKWebView&, const NSError&) {}
};

// A web page in a view. Without a navigation delegate every navigation is allowed.
class WKWebView : public WebContentView {
 public:
  static std::shared_ptr<WKWebView> make(CGRect frame = {});
  explicit WKWebView(CGRect frame = {}) : WebContentView(frame) {}
  explicit WKWebView(const NSCoder&) : WKWebView(CGRect{}) {}

  std::shared_ptr<WKNavigationDelegate> navigationDelegate() const { return delegate_.lock(); }
  void setNavigationDelegate(std::weak_ptr<WKNavigationDelegate> delegate) { delegate_ = std::move(delegate); }

  const std::optional<URL>& url() const { return engine().url(); }
  // The page's <title>, nothing before a page is shown.
  std::optional<std::string> title() const;

 protected:
  void decidePolicy(const URLRequest& request, WebNavigationKind kind, std::function<void(bool)> decide) override;
  void didStartLoad() override;
  void didReceiveRedirect() override;
  void didFinishLoad() override;
  void didFailLoad(const NSError& error) override;

 private:
  std::weak_ptr<WKNavigationDelegate> delegate_;
};
