#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_image.h"

// A controller's entry on a tab bar.
class UITabBarItem {
 public:
  UITabBarItem() = default;
  UITabBarItem(std::optional<std::string> title, std::shared_ptr<UIImage> image, int tag)
      : title_(std::move(title)), image_(std::move(image)), tag_(tag) {}

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::shared_ptr<UIImage>& image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image) { image_ = std::move(image); }
  const std::shared_ptr<UIImage>& selectedImage() const { return selectedImage_; }
  void setSelectedImage(std::shared_ptr<UIImage> image) { selectedImage_ = std::move(image); }
  const std::optional<std::string>& badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::optional<std::string> badge) { badgeValue_ = std::move(badge); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }

 private:
  std::optional<std::string> title_;
  std::shared_ptr<UIImage> image_;
  std::shared_ptr<UIImage> selectedImage_;
  std::optional<std::string> badgeValue_;
  bool enabled_ = true;
  int tag_ = 0;
};
