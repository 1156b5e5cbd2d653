#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_bar_button_item.h"

class UIView;

// What a navigation bar shows while a controller is on top of the stack (and, for the back
// button, while it is the one beneath the top).
class UINavigationItem {
 public:
  UINavigationItem() = default;
  explicit UINavigationItem(std::optional<std::string> title) : title_(std::move(title)) {}

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::shared_ptr<UIView>& titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<UIView> view) { titleView_ = std::move(view); }

  std::shared_ptr<UIBarButtonItem> leftBarButtonItem() const { return left_.empty() ? nullptr : left_.front(); }
  void setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { left_ = itemsOf(std::move(item)); }
  const std::vector<std::shared_ptr<UIBarButtonItem>>& leftBarButtonItems() const { return left_; }
  void setLeftBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items) { left_ = std::move(items); }
  std::shared_ptr<UIBarButtonItem> rightBarButtonItem() const { return right_.empty() ? nullptr : right_.front(); }
  void setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { right_ = itemsOf(std::move(item)); }
  const std::vector<std::shared_ptr<UIBarButtonItem>>& rightBarButtonItems() const { return right_; }
  void setRightBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items) { right_ = std::move(items); }
  // When false a left item replaces the back button; when true both show.
  bool leftItemsSupplementBackButton() const { return leftItemsSupplementBackButton_; }
  void setLeftItemsSupplementBackButton(bool v) { leftItemsSupplementBackButton_ = v; }

  // The back button that leads back to this item's controller, shown while another is on top.
  const std::shared_ptr<UIBarButtonItem>& backBarButtonItem() const { return backBarButtonItem_; }
  void setBackBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { backBarButtonItem_ = std::move(item); }
  const std::optional<std::string>& backButtonTitle() const { return backButtonTitle_; }
  void setBackButtonTitle(std::optional<std::string> title) { backButtonTitle_ = std::move(title); }
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool hides) { hidesBackButton_ = hides; }
  void setHidesBackButton(bool hides, bool /*animated*/) { hidesBackButton_ = hides; }

  // The back button's text when this item is the one beneath the top: the back item's title,
  // else the back button title, else the title, else "Back".
  std::string backTitle() const {
    if (backBarButtonItem_ && backBarButtonItem_->title()) return *backBarButtonItem_->title();
    if (backButtonTitle_) return *backButtonTitle_;
    if (title_ && !title_->empty()) return *title_;
    return "Back";
  }

 private:
  static std::vector<std::shared_ptr<UIBarButtonItem>> itemsOf(std::shared_ptr<UIBarButtonItem> item) {
    if (!item) return {};
    return {std::move(item)};
  }

  std::optional<std::string> title_;
  std::shared_ptr<UIView> titleView_;
  std::vector<std::shared_ptr<UIBarButtonItem>> left_;
  std::vector<std::shared_ptr<UIBarButtonItem>> right_;
  bool leftItemsSupplementBackButton_ = false;
  std::shared_ptr<UIBarButtonItem> backBarButtonItem_;
  std::optional<std::string> backButtonTitle_;
  bool hidesBackButton_ = false;
};
