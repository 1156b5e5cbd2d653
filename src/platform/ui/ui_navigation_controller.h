#pragma once

#include <memory>
#include <vector>

#include "platform/ui/ui_navigation_bar.h"
#include "platform/ui/ui_view_controller.h"

// What a navigation controller tells about its stack (the platform's calls are not needed here).
class UINavigationControllerDelegate {
 public:
  virtual ~UINavigationControllerDelegate() = default;
};

// A stack of controllers under one navigation bar. The top one is shown; its navigation item
// (and the one beneath, for the back button) fill the bar.
class UINavigationController : public UIViewController {
 public:
  UINavigationController();
  explicit UINavigationController(const NSCoder&);
  explicit UINavigationController(const std::shared_ptr<UIViewController>& rootViewController);

  // The stack, root first.
  const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return childViewControllers(); }
  // Replaces the stack; the controllers that leave it and those that join it are told, and a
  // new top on screen appears.
  void setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers, bool animated = false);
  std::shared_ptr<UIViewController> topViewController() const;
  // What is on screen: a controller presented over the navigation controller, else the top.
  std::shared_ptr<UIViewController> visibleViewController() const;

  // Pushing a controller that already has a parent is refused with a console warning.
  void pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated);
  // The popped controller; nothing at the root.
  std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);
  // The popped controllers, in stack order; none at the root or for a controller not in the stack.
  std::vector<std::shared_ptr<UIViewController>> popToRootViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<UIViewController>> popToViewController(
      const std::shared_ptr<UIViewController>& controller, bool animated);

  std::shared_ptr<UINavigationControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UINavigationControllerDelegate> delegate) { delegate_ = std::move(delegate); }

  const std::shared_ptr<UINavigationBar>& navigationBar() const { return navigationBar_; }
  bool isNavigationBarHidden() const { return navigationBar_->isHidden(); }
  void setNavigationBarHidden(bool hidden, bool animated = false);

  // A finger on the bar's back button: pops when the button shows and can be touched.
  bool tapBackButton();

  void loadView() override;
  // Fits the bar and the shown child to the container (after a rotation, say).
  void viewWillLayoutSubviews() override;
  std::vector<std::shared_ptr<UIViewController>> childViewControllersOnScreen() const override;

 private:
  void replaceStack(std::vector<std::shared_ptr<UIViewController>> stack, bool animated);
  void updateBarItems();
  void installTopView();

  std::shared_ptr<UINavigationBar> navigationBar_;
  std::weak_ptr<UINavigationControllerDelegate> delegate_;
};
