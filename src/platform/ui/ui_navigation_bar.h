#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_navigation_item.h"
#include "platform/ui/ui_view.h"

enum class UIBarMetrics { Default = 0, Compact = 1, DefaultPrompt = 101, CompactPrompt = 102 };
enum class UIBarStyle { Default = 0, Black = 1 };

// The bar at the top of a navigation controller. Its items follow the controller's stack; its
// looks are stored values that the whole stack shares.
class UINavigationBar : public UIView {
 public:
  explicit UINavigationBar(CGRect frame = {}) : UIView(frame) {}

  const std::vector<std::shared_ptr<UINavigationItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<UINavigationItem>> items) { items_ = std::move(items); }
  std::shared_ptr<UINavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
  // The item beneath the top: the one the back button leads to.
  std::shared_ptr<UINavigationItem> backItem() const { return items_.size() < 2 ? nullptr : items_[items_.size() - 2]; }

  // Whether the back button shows: there is a controller beneath the top, the top item does not
  // hide it, and no left item takes its place.
  bool isBackButtonVisible() const;
  // The items a finger can reach now: left (when shown), then right.
  std::vector<std::shared_ptr<UIBarButtonItem>> visibleBarButtonItems() const;

  // Looks. The tint colour is the view's (nil restores the inherited default).
  const std::optional<UIColor>& barTintColor() const { return barTintColor_; }
  void setBarTintColor(std::optional<UIColor> color) { barTintColor_ = std::move(color); }
  // Keyed by NSForegroundColorAttributeName.
  const std::map<std::string, UIColor>& titleTextAttributes() const { return titleTextAttributes_; }
  void setTitleTextAttributes(std::map<std::string, UIColor> attributes) {
    titleTextAttributes_ = std::move(attributes);
  }
  bool isTranslucent() const { return translucent_; }
  void setTranslucent(bool translucent) { translucent_ = translucent; }
  UIBarStyle barStyle() const { return barStyle_; }
  void setBarStyle(UIBarStyle style) { barStyle_ = style; }
  void setBackgroundImage(std::shared_ptr<UIImage> image, UIBarMetrics metrics) {
    backgroundImages_[metrics] = std::move(image);
  }
  std::shared_ptr<UIImage> backgroundImageForBarMetrics(UIBarMetrics metrics) const;
  const std::shared_ptr<UIImage>& shadowImage() const { return shadowImage_; }
  void setShadowImage(std::shared_ptr<UIImage> image) { shadowImage_ = std::move(image); }

 protected:
  // One line: "[< Back] === Title === [Right]" (a left item replaces the back button).
  void renderSelf(TextCanvas& canvas) const override;

 private:
  std::vector<std::shared_ptr<UINavigationItem>> items_;
  std::optional<UIColor> barTintColor_;
  std::map<std::string, UIColor> titleTextAttributes_;
  bool translucent_ = true;
  UIBarStyle barStyle_ = UIBarStyle::Default;
  std::map<UIBarMetrics, std::shared_ptr<UIImage>> backgroundImages_;
  std::shared_ptr<UIImage> shadowImage_;
};

// Text of a bar button on screen: "[Title]", with " (disabled)" when it cannot be tapped.
std::string renderBarButtonItem(const UIBarButtonItem& item);
