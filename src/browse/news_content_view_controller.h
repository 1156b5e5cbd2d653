#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_view_controller.h"
#include "platform/ui/wk_web_view.h"

// A news item's HTML page below the navigation bar. Links open in the page itself.
class NewsContentViewController : public UIViewController {
 public:
  NewsContentViewController() = default;
  explicit NewsContentViewController(const NSCoder& coder) : UIViewController(coder) {}

  const std::shared_ptr<WKWebView>& webView() const { return webView_; }
  // Required before the view loads.
  const std::optional<std::string>& content() const { return content_; }
  void setContent(std::optional<std::string> content) { content_ = std::move(content); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

 private:
  std::shared_ptr<WKWebView> webView_;
  std::optional<std::string> content_;
};
