#include "platform/ui/ui_control.h"

#include <algorithm>

#include "platform/ui/ui_gesture_recognizer.h"

std::shared_ptr<UIControl> UIControl::make(CGRect frame) { return std::make_shared<UIControl>(frame); }

UIControl::UIControl(CGRect frame) : UIView(frame) {}

void UIControl::addTarget(Handler handler, UIControlEvents events) {
  if (!handler || !any(events)) return;
  actions_.push_back(UIControlTargetAction{{}, false, {}, events, std::move(handler)});
}

void UIControl::addTarget(const std::shared_ptr<void>& target, std::string action, UIControlEvents events,
                          Handler handler) {
  if (!any(events)) return;
  bool bound = std::any_of(actions_.begin(), actions_.end(), [&](const UIControlTargetAction& a) {
    return a.hasTarget && a.target.lock() == target && a.action == action && a.events == events;
  });
  if (bound) return;
  actions_.push_back(UIControlTargetAction{target, target != nullptr, std::move(action), events, std::move(handler)});
}

void UIControl::removeTarget(const std::shared_ptr<void>& target, const std::string& action, UIControlEvents events) {
  for (auto& a : actions_) {
    bool matches = (!target || a.target.lock() == target) && (action.empty() || a.action == action);
    if (matches)
      a.events =
          static_cast<UIControlEvents>(static_cast<std::uint32_t>(a.events) & ~static_cast<std::uint32_t>(events));
  }
  actions_.erase(std::remove_if(actions_.begin(), actions_.end(), [](const auto& a) { return !any(a.events); }),
                 actions_.end());
}

std::vector<std::string> UIControl::actionsForTarget(const std::shared_ptr<void>& target,
                                                     UIControlEvents events) const {
  std::vector<std::string> names;
  for (const auto& a : actions_) {
    if (a.hasTarget && a.target.lock() == target && any(a.events & events)) names.push_back(a.action);
  }
  return names;
}

void UIControl::sendActionsForControlEvents(UIControlEvents events, const UIEvent* event) {
  // Handlers may add or remove bindings, or release the last owner of this control.
  auto self = weak_from_this().lock();
  auto bindings = actions_;
  for (const auto& a : bindings) {
    if (!any(a.events & events)) continue;
    std::shared_ptr<void> target = a.target.lock();
    if (a.hasTarget && !target) continue;
    if (a.handler) a.handler(*this, event);
  }
}

UIControlState UIControl::state() const {
  UIControlState s = UIControlState::Normal;
  if (!enabled_) s = s | UIControlState::Disabled;
  if (selected_) s = s | UIControlState::Selected;
  if (highlighted_) s = s | UIControlState::Highlighted;
  return s;
}

bool UIControl::tap() {
  if (!isUsable()) return false;
  auto self = weak_from_this().lock();
  if (!UIGestureRecognizer::deliverTap(*this)) return true;
  // A recogniser's action may have disabled or hidden the control.
  if (!isUsable()) return true;
  performTap();
  return true;
}

void UIControl::performTap() {
  UIEvent event;
  event.allTouches.push_back(
      UITouch{UITouch::Phase::Ended, center(), weak_from_this().lock() ? sharedAs<UIView>() : nullptr});
  sendActionsForControlEvents(UIControlEvents::TouchDown, &event);
  sendActionsForControlEvents(UIControlEvents::TouchUpInside | UIControlEvents::PrimaryActionTriggered, &event);
}
