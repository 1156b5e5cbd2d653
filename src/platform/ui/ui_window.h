#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/ui_view.h"

class UIViewController;

// The root of what the screen shows: the root controller's view, then the views of the
// controllers presented over it (a full-screen presentation takes its presenter's view out).
// A window starts hidden; makeKeyAndVisible shows it, loads the root's view and makes it appear.
class UIWindow : public UIView {
 public:
  // The size of the main screen.
  UIWindow();
  explicit UIWindow(CGRect frame);
  static std::shared_ptr<UIWindow> make();
  static std::shared_ptr<UIWindow> make(CGRect frame);

  std::shared_ptr<UIViewController> rootViewController() const { return root_; }
  // On a visible window the old root disappears and the new one appears at once; otherwise the
  // root waits for makeKeyAndVisible (its view is not loaded before).
  void setRootViewController(std::shared_ptr<UIViewController> controller);

  void makeKeyAndVisible();
  void makeKeyWindow();
  bool isKeyWindow() const;

  // The top of the root's presented chain.
  std::shared_ptr<UIViewController> topPresentedViewController() const;
  // The controller whose screen the user sees: the top of the presented chain, then down through
  // the shown child of each navigation or tab bar controller.
  std::shared_ptr<UIViewController> visibleViewController() const;

  // A layout pass (UIViewController::layoutPass) for each controller on screen whose view needs
  // layout, then the layout of every other view of the window that needs it. The console driver
  // runs it whenever the run loop settles, so a screen is laid out after data arrives too.
  void layoutOnScreenIfNeeded();

 protected:
  UIWindow* asWindow() override { return this; }

 private:
  void installRootView();

  std::shared_ptr<UIViewController> root_;
  std::optional<std::uint64_t> laidOutAt_;  // the layout generation the last pass left
};
