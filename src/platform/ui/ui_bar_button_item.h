#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_color.h"
#include "platform/ui/ui_image.h"

class UIView;

enum class UIBarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };

// A button on a navigation bar or toolbar. Not a view: the bar that shows it draws it.
class UIBarButtonItem : public std::enable_shared_from_this<UIBarButtonItem> {
 public:
  using Handler = std::function<void(UIBarButtonItem& sender)>;

  UIBarButtonItem() = default;
  UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style)
      : title_(std::move(title)), style_(style) {}
  // `target` is held weakly: once it is gone the action does nothing.
  UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style, const std::shared_ptr<void>& target,
                  std::string action, Handler handler);
  UIBarButtonItem(std::shared_ptr<UIImage> image, UIBarButtonItemStyle style, const std::shared_ptr<void>& target,
                  std::string action, Handler handler);
  // An item that shows `view` instead of a title; the view handles its own touches.
  static std::shared_ptr<UIBarButtonItem> withCustomView(std::shared_ptr<UIView> view);

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::shared_ptr<UIView>& customView() const { return customView_; }
  void setCustomView(std::shared_ptr<UIView> view) { customView_ = std::move(view); }
  const std::shared_ptr<UIImage>& image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image) { image_ = std::move(image); }
  UIBarButtonItemStyle style() const { return style_; }
  void setStyle(UIBarButtonItemStyle style) { style_ = style; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  const std::optional<UIColor>& tintColor() const { return tintColor_; }
  void setTintColor(std::optional<UIColor> color) { tintColor_ = std::move(color); }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  const std::string& accessibilityIdentifier() const { return accessibilityIdentifier_; }
  void setAccessibilityIdentifier(std::string id) { accessibilityIdentifier_ = std::move(id); }

  // The target's action (a second call replaces it, as there is one target per item).
  void setTarget(const std::shared_ptr<void>& target, std::string action, Handler handler);
  const std::string& action() const { return action_; }

  // A finger on the item: refused (false) while it is disabled. Runs the action once.
  bool tap();

  // What a bar shows: the title, else the image's description, else the identifier.
  std::string displayTitle() const;

 private:
  std::optional<std::string> title_;
  std::shared_ptr<UIImage> image_;
  std::shared_ptr<UIView> customView_;
  UIBarButtonItemStyle style_ = UIBarButtonItemStyle::Plain;
  bool enabled_ = true;
  std::optional<UIColor> tintColor_;
  int tag_ = 0;
  std::string accessibilityIdentifier_;
  std::weak_ptr<void> target_;
  bool hasTarget_ = false;
  std::string action_;
  Handler handler_;
};
