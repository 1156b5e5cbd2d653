#include "browse/news_list_view_controller.h"

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/browse_support.h"
#include "browse/news_cell.h"
#include "browse/news_content_view_controller.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_navigation_controller.h"
#include "services/news_service.h"
#include "services/service_locator.h"

NewsListViewController::NewsListViewController()
    : newsService_(ServiceLocator::shared().newsService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

NewsListViewController::NewsListViewController(const NSCoder& coder)
    : UIViewController(coder),
      newsService_(ServiceLocator::shared().newsService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

void NewsListViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  navigationItem()->setTitle(NSLocalizedString("newslist_navigation_title"));
  if (auto nav = navigationController()) nav->tabBarItem()->setTitle(NSLocalizedString("newslist_tabbar_title"));
  requiredOutlet(tableView, "tableView")->setTableFooterView(std::make_shared<UIView>(CGRect{}));
}

void NewsListViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  resetBarToPlainLook(*this);
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<NewsListViewController>();
  newsService_->getNews(
      [self](std::vector<std::shared_ptr<News>> news) {
        self->news_ = std::move(news);
        requiredOutlet(self->tableView, "tableView")->reloadData();
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
      },
      hideOverlayAndAlert(self));
  analyticsScreenTracking(*this, "NewsList");
}

int NewsListViewController::numberOfRowsInSection(UITableView&, int) { return static_cast<int>(news_.size()); }

std::shared_ptr<UITableViewCell> NewsListViewController::cellForRowAtIndexPath(UITableView& table,
                                                                               const NSIndexPath& indexPath) {
  auto cell =
      cellAs<NewsCell>(table.dequeueReusableCellWithIdentifier(NewsCell::kReuseIdentifier), NewsCell::kReuseIdentifier);
  cell->configure(*news_.at(static_cast<std::size_t>(indexPath.row)));
  return cell;
}

void NewsListViewController::didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
  const auto& item = *news_.at(static_cast<std::size_t>(indexPath.row));
  if (!item.content()) {
    showAlert(*this, NSLocalizedString("newlist_error_nocontent"));
    return;
  }
  auto content = MainViewControllerFactory::screenAs<NewsContentViewController>(
      viewControllerFactory_->getNewsContentViewController());
  content->setContent(item.content());
  content->setTitle(item.title());
  pushIfStillShown(*this, content);
}
