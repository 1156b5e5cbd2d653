#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/ui_tab_bar_item.h"
#include "platform/ui/ui_view.h"

// The bar of a tab bar controller: one item per tab, one of them selected. Looks are stored values.
class UITabBar : public UIView {
 public:
  explicit UITabBar(CGRect frame = {}) : UIView(frame) {}

  const std::vector<std::shared_ptr<UITabBarItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<UITabBarItem>> items) { items_ = std::move(items); }
  std::shared_ptr<UITabBarItem> selectedItem() const { return selectedItem_.lock(); }
  void setSelectedItem(const std::shared_ptr<UITabBarItem>& item) { selectedItem_ = item; }

  const std::optional<UIColor>& barTintColor() const { return barTintColor_; }
  void setBarTintColor(std::optional<UIColor> color) { barTintColor_ = std::move(color); }
  const std::optional<UIColor>& unselectedItemTintColor() const { return unselectedItemTintColor_; }
  void setUnselectedItemTintColor(std::optional<UIColor> color) { unselectedItemTintColor_ = std::move(color); }
  bool isTranslucent() const { return translucent_; }
  void setTranslucent(bool translucent) { translucent_ = translucent; }

 protected:
  // One line: "tabs: 0 Lectures | 1 *News* | 2 Profile", the selected tab between stars.
  void renderSelf(TextCanvas& canvas) const override;

 private:
  std::vector<std::shared_ptr<UITabBarItem>> items_;
  std::weak_ptr<UITabBarItem> selectedItem_;
  std::optional<UIColor> barTintColor_;
  std::optional<UIColor> unselectedItemTintColor_;
  bool translucent_ = true;
};
