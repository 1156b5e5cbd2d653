#include "platform/ui/ui_button.h"

#include "platform/ui/render.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"

std::shared_ptr<UIButton> UIButton::make(CGRect frame) { return std::make_shared<UIButton>(frame); }

std::shared_ptr<UIButton> UIButton::buttonWithType(UIButtonType type) {
  auto b = make();
  b->type_ = type;
  return b;
}

UIButton::UIButton(CGRect frame) : UIControl(frame) {}

// An exact entry first, then the state's parts by weight (disabled, selected, highlighted), then
// Normal. An entry set to nothing counts as absent.
template <class V>
std::optional<V> UIButton::lookup(const std::map<UIControlState, V>& values, UIControlState state) {
  auto find = [&](UIControlState s) -> std::optional<V> {
    auto it = values.find(s);
    if (it == values.end() || !it->second) return std::nullopt;
    return it->second;
  };
  if (auto v = find(state)) return v;
  for (UIControlState part : {UIControlState::Disabled, UIControlState::Selected, UIControlState::Highlighted}) {
    if (any(state & part)) {
      if (auto v = find(part)) return v;
    }
  }
  return find(UIControlState::Normal);
}

void UIButton::setTitle(std::optional<std::string> title, UIControlState state) {
  titles_[state] = std::move(title);
  refreshContent();
}

std::optional<std::string> UIButton::titleForState(UIControlState state) const {
  auto v = lookup(titles_, state);
  return v ? *v : std::nullopt;
}

void UIButton::setTitleColor(std::optional<UIColor> color, UIControlState state) {
  titleColors_[state] = std::move(color);
  refreshContent();
}

std::optional<UIColor> UIButton::titleColorForState(UIControlState state) const {
  auto v = lookup(titleColors_, state);
  return v ? *v : std::nullopt;
}

void UIButton::setImage(std::shared_ptr<UIImage> image, UIControlState state) {
  images_[state] = std::move(image);
  refreshContent();
}

std::shared_ptr<UIImage> UIButton::imageForState(UIControlState state) const {
  return lookup(images_, state).value_or(nullptr);
}

void UIButton::setBackgroundImage(std::shared_ptr<UIImage> image, UIControlState state) {
  backgroundImages_[state] = std::move(image);
}

std::shared_ptr<UIImage> UIButton::backgroundImageForState(UIControlState state) const {
  return lookup(backgroundImages_, state).value_or(nullptr);
}

std::shared_ptr<UILabel> UIButton::titleLabel() const {
  if (!titleLabel_) {
    titleLabel_ = UILabel::make();
    refreshContent();
  }
  return titleLabel_;
}

std::shared_ptr<UIImageView> UIButton::imageView() const {
  if (!imageView_) {
    imageView_ = UIImageView::make();
    refreshContent();
  }
  return imageView_;
}

void UIButton::refreshContent() const {
  if (titleLabel_) {
    titleLabel_->setText(currentTitle());
    if (auto c = currentTitleColor()) titleLabel_->setTextColor(*c);
  }
  if (imageView_) imageView_->setImage(currentImage());
}

void UIButton::setEnabled(bool enabled) {
  UIControl::setEnabled(enabled);
  refreshContent();
}

void UIButton::setSelected(bool selected) {
  UIControl::setSelected(selected);
  refreshContent();
}

void UIButton::setHighlighted(bool highlighted) {
  UIControl::setHighlighted(highlighted);
  refreshContent();
}

std::optional<std::string> UIButton::bracketedTitle() const {
  if (auto t = currentTitle(); t && !t->empty()) return t;
  if (auto img = currentImage()) return img->description();
  return std::string();
}

void UIButton::renderSelf(TextCanvas& canvas) const {
  std::string text = "[" + bracketedTitle().value_or("") + "]";
  if (!accessibilityIdentifier().empty()) text += " #" + accessibilityIdentifier();
  if (!isEnabled()) text += " (disabled)";
  if (isSelected()) text += " (selected)";
  canvas.line(text);
}
