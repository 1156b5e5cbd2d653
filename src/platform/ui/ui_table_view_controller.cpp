#include "platform/ui/ui_table_view_controller.h"

#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_table_view_cell.h"

std::shared_ptr<UITableView> UITableViewController::tableView() {
  return std::dynamic_pointer_cast<UITableView>(view());
}

void UITableViewController::setTableView(std::shared_ptr<UITableView> tableView) { setView(std::move(tableView)); }

void UITableViewController::loadView() {
  auto table = std::make_shared<UITableView>(UIScreen::mainScreen()->bounds(), style_);
  auto self = sharedAs<UITableViewController>();
  table->setDataSource(std::static_pointer_cast<UITableViewDataSource>(self));
  table->setDelegate(std::static_pointer_cast<UITableViewDelegate>(self));
  setView(table);
}

void UITableViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  if (!clearsSelectionOnViewWillAppear_) return;
  if (auto table = tableView()) {
    if (auto selected = table->indexPathForSelectedRow()) table->deselectRowAtIndexPath(*selected, animated);
  }
}

std::shared_ptr<UITableViewCell> UITableViewController::cellForRowAtIndexPath(UITableView&, const NSIndexPath&) {
  return std::make_shared<UITableViewCell>();
}
