#include "platform/ui/ui_table_view_row_action.h"

std::shared_ptr<UITableViewRowAction> UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle style,
                                                                               std::optional<std::string> title,
                                                                               Handler handler) {
  return std::make_shared<UITableViewRowAction>(style, std::move(title), std::move(handler));
}

UITableViewRowAction::UITableViewRowAction(UITableViewRowActionStyle style, std::optional<std::string> title,
                                           Handler handler)
    : style_(style), title_(std::move(title)), handler_(std::move(handler)) {}

UIColor UITableViewRowAction::backgroundColor() const {
  if (backgroundColor_) return *backgroundColor_;
  return style_ == UITableViewRowActionStyle::Normal ? UIColor::lightGrayColor() : UIColor::redColor();
}

void UITableViewRowAction::trigger(const NSIndexPath& indexPath) {
  if (!handler_) return;
  auto handler = handler_;  // the handler may replace itself
  handler(*this, indexPath);
}
