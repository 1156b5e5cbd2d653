#pragma once

#include <memory>
#include <vector>

#include "model/news.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_view_controller.h"

class NewsService;
class MainViewControllerFactory;

// The News tab: every news item for the student, loaded again on each appearance. An item opens
// its content.
class NewsListViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  NewsListViewController();
  explicit NewsListViewController(const NSCoder& coder);

  std::weak_ptr<UITableView> tableView;

  const std::vector<std::shared_ptr<News>>& news() const { return news_; }
  void setNews(std::vector<std::shared_ptr<News>> news) { news_ = std::move(news); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(UITableView& tableView, int section) override;
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  void didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;

 private:
  const std::shared_ptr<NewsService> newsService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  std::vector<std::shared_ptr<News>> news_;
};
