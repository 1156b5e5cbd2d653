#include "platform/ui/ui_gesture_recognizer.h"

#include "platform/ui/ui_view.h"

UIGestureRecognizer::UIGestureRecognizer(Handler handler) {
  if (handler) bindings_.push_back(Binding{{}, false, {}, std::move(handler)});
}

UIGestureRecognizer::UIGestureRecognizer(const std::shared_ptr<void>& target, std::string action, Handler handler) {
  addTarget(target, std::move(action), std::move(handler));
}

void UIGestureRecognizer::addTarget(const std::shared_ptr<void>& target, std::string action, Handler handler) {
  bindings_.push_back(Binding{target, target != nullptr, std::move(action), std::move(handler)});
}

std::vector<std::string> UIGestureRecognizer::actionNames() const {
  std::vector<std::string> names;
  for (const auto& b : bindings_) {
    if (!b.action.empty()) names.push_back(b.action);
  }
  return names;
}

void UIGestureRecognizer::send(UIGestureRecognizerState state) {
  state_ = state;
  auto self = shared_from_this();  // an action may detach the recogniser
  auto bindings = bindings_;
  for (const auto& b : bindings) {
    std::shared_ptr<void> target = b.target.lock();
    if (b.hasTarget && !target) continue;
    if (b.handler) b.handler(*this);
  }
}

bool UIGestureRecognizer::fire() {
  auto v = view();
  if (!enabled_ || !v || !v->canReceiveTouches()) {
    state_ = UIGestureRecognizerState::Failed;
    return false;
  }
  if (isContinuous()) send(UIGestureRecognizerState::Began);
  send(UIGestureRecognizerState::Ended);
  state_ = UIGestureRecognizerState::Possible;
  return true;
}

bool UIGestureRecognizer::deliverTap(const UIView& view) {
  if (!view.canReceiveTouches()) return false;
  bool reachesView = true;
  std::vector<std::shared_ptr<UIGestureRecognizer>> recognisers;
  for (const UIView* v = &view; v;) {
    for (const auto& r : v->gestureRecognizers()) {
      if (r->recognisesTaps()) recognisers.push_back(r);
    }
    auto parent = v->superview();
    v = parent.get();  // the tree keeps it alive
  }
  for (const auto& r : recognisers) {
    if (r->fire() && r->cancelsTouchesInView()) reachesView = false;
  }
  return reachesView;
}
