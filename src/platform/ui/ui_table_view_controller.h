#pragma once

#include <memory>

#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_view_controller.h"

// A controller whose root view is a table, and which is the table's data source and delegate.
// The table starts empty; subclasses answer the data source.
class UITableViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  explicit UITableViewController(UITableViewStyle style = UITableViewStyle::Plain) : style_(style) {}
  explicit UITableViewController(const NSCoder&) : UITableViewController(UITableViewStyle::Plain) {}

  // Loads the view when needed.
  std::shared_ptr<UITableView> tableView();
  void setTableView(std::shared_ptr<UITableView> tableView);
  bool clearsSelectionOnViewWillAppear() const { return clearsSelectionOnViewWillAppear_; }
  void setClearsSelectionOnViewWillAppear(bool clears) { clearsSelectionOnViewWillAppear_ = clears; }

  void loadView() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(UITableView&, int) override { return 0; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView&, const NSIndexPath&) override;

 private:
  UITableViewStyle style_;
  bool clearsSelectionOnViewWillAppear_ = true;
};
