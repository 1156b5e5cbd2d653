#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/geometry.h"
#include "platform/ui/ui_color.h"

enum class UITableViewRowActionStyle { Default = 0, Destructive = 0, Normal = 1 };

// A button shown when the user swipes a row.
class UITableViewRowAction {
 public:
  using Handler = std::function<void(UITableViewRowAction& action, const NSIndexPath& indexPath)>;

  static std::shared_ptr<UITableViewRowAction> rowActionWithStyle(UITableViewRowActionStyle style,
                                                                  std::optional<std::string> title, Handler handler);
  UITableViewRowAction(UITableViewRowActionStyle style, std::optional<std::string> title, Handler handler);

  UITableViewRowActionStyle style() const { return style_; }
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> t) { title_ = std::move(t); }
  // The style's colour (red for Default, light grey for Normal) until one is set.
  UIColor backgroundColor() const;
  void setBackgroundColor(std::optional<UIColor> c) { backgroundColor_ = std::move(c); }

  // Runs the handler with the row's index path.
  void trigger(const NSIndexPath& indexPath);

 private:
  UITableViewRowActionStyle style_;
  std::optional<std::string> title_;
  Handler handler_;
  std::optional<UIColor> backgroundColor_;
};
