#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_control.h"
#include "platform/ui/ui_image.h"

class UIImageView;
class UILabel;

enum class UIButtonType { Custom, System, DetailDisclosure, InfoLight, InfoDark, ContactAdd };

// A push button with a title, title colour and images per control state. A state without its own
// value shows the value of the nearest simpler state, down to Normal.
class UIButton : public UIControl {
 public:
  static std::shared_ptr<UIButton> make(CGRect frame = {});
  static std::shared_ptr<UIButton> buttonWithType(UIButtonType type);
  explicit UIButton(CGRect frame = {});
  explicit UIButton(const NSCoder&) : UIButton(CGRect{}) {}

  UIButtonType buttonType() const { return type_; }

  void setTitle(std::optional<std::string> title, UIControlState state);
  std::optional<std::string> titleForState(UIControlState state) const;
  std::optional<std::string> currentTitle() const { return titleForState(state()); }
  void setTitleColor(std::optional<UIColor> color, UIControlState state);
  std::optional<UIColor> titleColorForState(UIControlState state) const;
  std::optional<UIColor> currentTitleColor() const { return titleColorForState(state()); }
  void setImage(std::shared_ptr<UIImage> image, UIControlState state);
  std::shared_ptr<UIImage> imageForState(UIControlState state) const;
  std::shared_ptr<UIImage> currentImage() const { return imageForState(state()); }
  void setBackgroundImage(std::shared_ptr<UIImage> image, UIControlState state);
  std::shared_ptr<UIImage> backgroundImageForState(UIControlState state) const;

  // The label and image view that show the current values; they are kept up to date and are not
  // part of the subviews.
  std::shared_ptr<UILabel> titleLabel() const;
  std::shared_ptr<UIImageView> imageView() const;

  UIEdgeInsets contentEdgeInsets() const { return contentEdgeInsets_; }
  void setContentEdgeInsets(UIEdgeInsets i) { contentEdgeInsets_ = i; }
  UIEdgeInsets titleEdgeInsets() const { return titleEdgeInsets_; }
  void setTitleEdgeInsets(UIEdgeInsets i) { titleEdgeInsets_ = i; }
  UIEdgeInsets imageEdgeInsets() const { return imageEdgeInsets_; }
  void setImageEdgeInsets(UIEdgeInsets i) { imageEdgeInsets_ = i; }

  void setEnabled(bool enabled) override;
  void setSelected(bool selected) override;
  void setHighlighted(bool highlighted) override;
  // The current title, else the current image's description.
  std::optional<std::string> bracketedTitle() const override;

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  template <class V>
  static std::optional<V> lookup(const std::map<UIControlState, V>& values, UIControlState state);
  void refreshContent() const;

  UIButtonType type_ = UIButtonType::Custom;
  std::map<UIControlState, std::optional<std::string>> titles_;
  std::map<UIControlState, std::optional<UIColor>> titleColors_;
  std::map<UIControlState, std::shared_ptr<UIImage>> images_;
  std::map<UIControlState, std::shared_ptr<UIImage>> backgroundImages_;
  mutable std::shared_ptr<UILabel> titleLabel_;
  mutable std::shared_ptr<UIImageView> imageView_;
  UIEdgeInsets contentEdgeInsets_;
  UIEdgeInsets titleEdgeInsets_;
  UIEdgeInsets imageEdgeInsets_;
};
