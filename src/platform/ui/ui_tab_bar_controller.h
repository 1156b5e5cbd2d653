#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/ui/ui_tab_bar.h"
#include "platform/ui/ui_view_controller.h"

class UITabBarController;

// Every method has the platform's default answer.
class UITabBarControllerDelegate {
 public:
  virtual ~UITabBarControllerDelegate() = default;
  virtual bool tabBarControllerShouldSelectViewController(UITabBarController&, UIViewController&) { return true; }
  virtual void tabBarControllerDidSelectViewController(UITabBarController&, UIViewController&) {}
};

// Tabs of controllers; the selected one is shown above the tab bar.
class UITabBarController : public UIViewController {
 public:
  UITabBarController();
  explicit UITabBarController(const NSCoder&);

  const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return childViewControllers(); }
  // Keeps the selected controller when it stays, else selects the first.
  void setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers, bool animated = false);

  std::size_t selectedIndex() const { return selectedIndex_; }
  // Out-of-range indexes are ignored. Selecting in code does not ask the delegate.
  void setSelectedIndex(std::size_t index);
  std::shared_ptr<UIViewController> selectedViewController() const;
  void setSelectedViewController(const std::shared_ptr<UIViewController>& controller);

  std::shared_ptr<UITabBarControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UITabBarControllerDelegate> delegate) { delegate_ = std::move(delegate); }

  const std::shared_ptr<UITabBar>& tabBar() const { return tabBar_; }

  // A finger on tab `index`: the delegate may refuse; otherwise the tab is selected and the
  // delegate told. False when refused, out of range or not touchable.
  bool tapTabAtIndex(std::size_t index);

  // Rebuilds the bar's items from the controllers' tab bar items.
  void updateTabBarItems();

  void loadView() override;
  // Fits the bar and the shown child to the container (after a rotation, say).
  void viewWillLayoutSubviews() override;
  std::vector<std::shared_ptr<UIViewController>> childViewControllersOnScreen() const override;

 private:
  void select(std::size_t index, bool animated);
  void installSelectedView();

  std::size_t selectedIndex_ = 0;
  std::weak_ptr<UITabBarControllerDelegate> delegate_;
  std::shared_ptr<UITabBar> tabBar_;
};
