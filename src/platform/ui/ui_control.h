#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_view.h"

enum class UIControlEvents : std::uint32_t {
  None = 0,
  TouchDown = 1u << 0,
  TouchDownRepeat = 1u << 1,
  TouchDragInside = 1u << 2,
  TouchDragOutside = 1u << 3,
  TouchDragEnter = 1u << 4,
  TouchDragExit = 1u << 5,
  TouchUpInside = 1u << 6,
  TouchUpOutside = 1u << 7,
  TouchCancel = 1u << 8,
  ValueChanged = 1u << 12,
  PrimaryActionTriggered = 1u << 13,
  EditingDidBegin = 1u << 16,
  EditingChanged = 1u << 17,
  EditingDidEnd = 1u << 18,
  EditingDidEndOnExit = 1u << 19,
  AllTouchEvents = 0x00000FFFu,
  AllEditingEvents = 0x000F0000u,
  AllEvents = 0xFFFFFFFFu,
};

constexpr UIControlEvents operator|(UIControlEvents a, UIControlEvents b) {
  return static_cast<UIControlEvents>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr UIControlEvents operator&(UIControlEvents a, UIControlEvents b) {
  return static_cast<UIControlEvents>(static_cast<std::uint32_t>(a) & static_cast<std::uint32_t>(b));
}
constexpr bool any(UIControlEvents e) { return static_cast<std::uint32_t>(e) != 0; }

enum class UIControlState : std::uint32_t {
  Normal = 0,
  Highlighted = 1u << 0,
  Disabled = 1u << 1,
  Selected = 1u << 2,
  Focused = 1u << 3,
};

constexpr UIControlState operator|(UIControlState a, UIControlState b) {
  return static_cast<UIControlState>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr UIControlState operator&(UIControlState a, UIControlState b) {
  return static_cast<UIControlState>(static_cast<std::uint32_t>(a) & static_cast<std::uint32_t>(b));
}
constexpr bool any(UIControlState s) { return static_cast<std::uint32_t>(s) != 0; }

class UIControl;

// One target-action binding. A binding with a target holds it weakly and does nothing once the
// target is gone; the same (target, action) pair is bound once per event set.
struct UIControlTargetAction {
  using Handler = std::function<void(UIControl& sender, const UIEvent* event)>;
  std::weak_ptr<void> target;
  bool hasTarget = false;
  std::string action;
  UIControlEvents events = UIControlEvents::None;
  Handler handler;
};

// A view that sends actions for control events (taps, value and editing changes).
class UIControl : public UIView {
 public:
  using Handler = UIControlTargetAction::Handler;

  static std::shared_ptr<UIControl> make(CGRect frame = {});
  explicit UIControl(CGRect frame = {});

  // A closure bound to `events`. Closures are not de-duplicated.
  void addTarget(Handler handler, UIControlEvents events);
  // `target` (held weakly) with the named action; `handler` runs the action while the target
  // lives. Adding the same target and action for the same events again changes nothing.
  void addTarget(const std::shared_ptr<void>& target, std::string action, UIControlEvents events, Handler handler);
  // Removes the bindings of `target` (and `action`, when given) for `events`.
  void removeTarget(const std::shared_ptr<void>& target, const std::string& action, UIControlEvents events);
  const std::vector<UIControlTargetAction>& actions() const { return actions_; }
  // The action names bound to `target` for one of `events`.
  std::vector<std::string> actionsForTarget(const std::shared_ptr<void>& target, UIControlEvents events) const;

  // Runs every binding whose events intersect `events`, in the order added.
  void sendActionsForControlEvents(UIControlEvents events, const UIEvent* event = nullptr);

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled) { enabled_ = enabled; }
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected) { selected_ = selected; }
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted) { highlighted_ = highlighted; }
  UIControlState state() const;

  // A touch by the user: refused (false, nothing sent) when the control is disabled or cannot
  // receive touches (hidden, non-interactive, beneath a blocking overlay). Gesture recognisers of
  // the control and its ancestors see the tap first; one that cancels touches in its view takes
  // the tap from the control.
  bool tap() override;

  // Usable by a user right now: enabled and able to receive touches.
  bool isUsable() const { return enabled_ && canReceiveTouches(); }

  // What the screen prints between brackets for the control ("[Sign in]"), which is also what the
  // console's `tap TEXT` finds it by; nothing for a control printed otherwise.
  virtual std::optional<std::string> bracketedTitle() const { return std::nullopt; }

 protected:
  // What a tap does once accepted (buttons: TouchUpInside).
  virtual void performTap();

 private:
  std::vector<UIControlTargetAction> actions_;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
};
