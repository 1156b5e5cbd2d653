#include "browse/news_content_view_controller.h"

#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/fatal_error.h"
#include "platform/ui/ns_layout_constraint.h"

void NewsContentViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  if (!content_) fatalError("NewsContentViewController needs its content");
  webView_ = WKWebView::make();
  webView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  auto root = view();
  root->addSubview(webView_);
  auto pin = [this](NSLayoutAttribute edge, const std::shared_ptr<UIView>& to, NSLayoutAttribute toEdge) {
    return NSLayoutConstraint::constraintWithItem(webView_, edge, NSLayoutRelation::Equal, to, toEdge, 1, 0);
  };
  root->addConstraints({pin(NSLayoutAttribute::Leading, root, NSLayoutAttribute::Leading),
                        pin(NSLayoutAttribute::Trailing, root, NSLayoutAttribute::Trailing),
                        pin(NSLayoutAttribute::Top, topLayoutGuide(), NSLayoutAttribute::Bottom),
                        pin(NSLayoutAttribute::Bottom, root, NSLayoutAttribute::Bottom)});
  webView_->loadHTMLString(htmlViewportHeader() + *content_, std::nullopt);
}

void NewsContentViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  analyticsScreenTracking(*this, "NewsContent");
}
