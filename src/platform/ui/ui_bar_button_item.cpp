#include "platform/ui/ui_bar_button_item.h"

#include "platform/ui/ui_view.h"

UIBarButtonItem::UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style,
                                 const std::shared_ptr<void>& target, std::string action, Handler handler)
    : title_(std::move(title)), style_(style) {
  setTarget(target, std::move(action), std::move(handler));
}

UIBarButtonItem::UIBarButtonItem(std::shared_ptr<UIImage> image, UIBarButtonItemStyle style,
                                 const std::shared_ptr<void>& target, std::string action, Handler handler)
    : image_(std::move(image)), style_(style) {
  setTarget(target, std::move(action), std::move(handler));
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::withCustomView(std::shared_ptr<UIView> view) {
  auto item = std::make_shared<UIBarButtonItem>();
  item->customView_ = std::move(view);
  return item;
}

void UIBarButtonItem::setTarget(const std::shared_ptr<void>& target, std::string action, Handler handler) {
  target_ = target;
  hasTarget_ = target != nullptr;
  action_ = std::move(action);
  handler_ = std::move(handler);
}

bool UIBarButtonItem::tap() {
  if (!enabled_) return false;
  if (!handler_) return true;
  if (hasTarget_) {
    // Keep the target alive for the length of the action.
    auto target = target_.lock();
    if (!target) return true;
    auto handler = handler_;
    handler(*this);
    return true;
  }
  auto handler = handler_;
  handler(*this);
  return true;
}

std::string UIBarButtonItem::displayTitle() const {
  if (title_) return *title_;
  if (image_) return image_->description();
  return accessibilityIdentifier_;
}
