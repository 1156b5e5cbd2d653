#pragma once

#include <memory>
#include <type_traits>
#include <vector>

#include "platform/ui/geometry.h"

class UIView;

// Stands for the storyboard archive a view or controller is made from: the second constructor
// of the platform's classes ("initWithCoder"), which scene builders use.
struct NSCoder {};

// A T made the way an archive makes it: through the storyboard constructor when T has one.
template <class T>
std::shared_ptr<T> makeFromArchive() {
  if constexpr (std::is_constructible_v<T, const NSCoder&>) {
    return std::make_shared<T>(NSCoder{});
  } else {
    return std::make_shared<T>();
  }
}

// One finger on the screen, as far as handlers look at it.
struct UITouch {
  enum class Phase { Began, Moved, Stationary, Ended, Cancelled };
  Phase phase = Phase::Began;
  CGPoint location;
  std::weak_ptr<UIView> view;
};

struct UIEvent {
  std::vector<UITouch> allTouches;
};

// Base of views and controllers: the responder chain and the first responder.
//
// A tree of views (a window, or a detached tree) has at most one first responder; asking for it
// first asks the current one to resign, and a refusal keeps the old one.
class UIResponder : public std::enable_shared_from_this<UIResponder> {
 public:
  virtual ~UIResponder() = default;

  virtual std::shared_ptr<UIResponder> nextResponder() const { return nullptr; }

  virtual bool canBecomeFirstResponder() const { return false; }
  virtual bool canResignFirstResponder() const { return true; }
  virtual bool becomeFirstResponder() { return false; }
  virtual bool resignFirstResponder() { return true; }
  virtual bool isFirstResponder() const { return false; }

  virtual void touchesBegan(const std::vector<UITouch>& touches, const UIEvent* event);
  virtual void touchesEnded(const std::vector<UITouch>& touches, const UIEvent* event);
  virtual void touchesCancelled(const std::vector<UITouch>& touches, const UIEvent* event);

  // shared_from_this() as the derived type. Only valid on an object owned by a shared_ptr.
  template <class T>
  std::shared_ptr<T> sharedAs() {
    return std::static_pointer_cast<T>(shared_from_this());
  }
  template <class T>
  std::shared_ptr<const T> sharedAs() const {
    return std::static_pointer_cast<const T>(shared_from_this());
  }
};
