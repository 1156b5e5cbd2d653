#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/geometry.h"

class UIView;

enum class UIGestureRecognizerState { Possible, Began, Changed, Ended, Cancelled, Failed };

// Recognises a gesture on its view and sends its actions. There are no touches to analyse: the
// console driver (or a test) performs the gesture with fire().
class UIGestureRecognizer : public std::enable_shared_from_this<UIGestureRecognizer> {
 public:
  using Handler = std::function<void(UIGestureRecognizer& recognizer)>;

  explicit UIGestureRecognizer(Handler handler = {});
  // `target` is held weakly: once it is gone its action does nothing.
  UIGestureRecognizer(const std::shared_ptr<void>& target, std::string action, Handler handler);
  virtual ~UIGestureRecognizer() = default;

  void addTarget(const std::shared_ptr<void>& target, std::string action, Handler handler);
  std::vector<std::string> actionNames() const;

  std::shared_ptr<UIView> view() const { return view_.lock(); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  // When true (the default) a recognised tap is not delivered to the view's controls.
  bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
  void setCancelsTouchesInView(bool c) { cancelsTouchesInView_ = c; }
  UIGestureRecognizerState state() const { return state_; }

  // Performs the gesture: when enabled and attached to a view that can receive touches, runs the
  // actions (once with Ended; a long press once with Began, then once with Ended). Returns whether
  // it was recognised.
  bool fire();

  // A finger's tap on `view`: the tap recognisers of the view and its ancestors (nearest first)
  // recognise it. Returns false when one of them cancels touches in the view, so that the view
  // itself must not react to the tap.
  static bool deliverTap(const UIView& view);

 protected:
  // Whether fire() sends a Began before the Ended.
  virtual bool isContinuous() const { return false; }
  virtual bool recognisesTaps() const { return false; }

 private:
  friend class UIView;
  void setView(const std::shared_ptr<UIView>& view) { view_ = view; }
  void send(UIGestureRecognizerState state);

  struct Binding {
    std::weak_ptr<void> target;
    bool hasTarget = false;
    std::string action;
    Handler handler;
  };
  std::vector<Binding> bindings_;
  std::weak_ptr<UIView> view_;
  bool enabled_ = true;
  bool cancelsTouchesInView_ = true;
  UIGestureRecognizerState state_ = UIGestureRecognizerState::Possible;
};

class UITapGestureRecognizer : public UIGestureRecognizer {
 public:
  using UIGestureRecognizer::UIGestureRecognizer;
  template <class... A>
  static std::shared_ptr<UITapGestureRecognizer> make(A&&... a) {
    return std::make_shared<UITapGestureRecognizer>(std::forward<A>(a)...);
  }
  int numberOfTapsRequired() const { return taps_; }
  void setNumberOfTapsRequired(int n) { taps_ = n; }
  int numberOfTouchesRequired() const { return touches_; }
  void setNumberOfTouchesRequired(int n) { touches_ = n; }

 protected:
  bool recognisesTaps() const override { return true; }

 private:
  int taps_ = 1;
  int touches_ = 1;
};

enum class UISwipeGestureRecognizerDirection { Right = 1, Left = 2, Up = 4, Down = 8 };

class UISwipeGestureRecognizer : public UIGestureRecognizer {
 public:
  using UIGestureRecognizer::UIGestureRecognizer;
  template <class... A>
  static std::shared_ptr<UISwipeGestureRecognizer> make(A&&... a) {
    return std::make_shared<UISwipeGestureRecognizer>(std::forward<A>(a)...);
  }
  UISwipeGestureRecognizerDirection direction() const { return direction_; }
  void setDirection(UISwipeGestureRecognizerDirection d) { direction_ = d; }

 private:
  UISwipeGestureRecognizerDirection direction_ = UISwipeGestureRecognizerDirection::Right;
};

class UILongPressGestureRecognizer : public UIGestureRecognizer {
 public:
  using UIGestureRecognizer::UIGestureRecognizer;
  template <class... A>
  static std::shared_ptr<UILongPressGestureRecognizer> make(A&&... a) {
    return std::make_shared<UILongPressGestureRecognizer>(std::forward<A>(a)...);
  }
  double minimumPressDuration() const { return minimumPressDuration_; }
  void setMinimumPressDuration(double d) { minimumPressDuration_ = d; }

 protected:
  bool isContinuous() const override { return true; }

 private:
  double minimumPressDuration_ = 0.5;
};
