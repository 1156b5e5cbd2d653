#include "platform/ui/ui_tab_bar_controller.h"

#include <algorithm>

#include "platform/ui/ui_screen.h"

namespace {

constexpr CGFloat kTabBarHeight = 49;

CGRect tabBarFrame(CGRect bounds) {
  return CGRectMake(0, bounds.height() - kTabBarHeight, bounds.width(), kTabBarHeight);
}

}  // namespace

UITabBarController::UITabBarController()
    : tabBar_(std::make_shared<UITabBar>(tabBarFrame(UIScreen::mainScreen()->bounds()))) {}

UITabBarController::UITabBarController(const NSCoder&) : UITabBarController() {}

std::shared_ptr<UIViewController> UITabBarController::selectedViewController() const {
  const auto& tabs = viewControllers();
  return selectedIndex_ < tabs.size() ? tabs[selectedIndex_] : nullptr;
}

std::vector<std::shared_ptr<UIViewController>> UITabBarController::childViewControllersOnScreen() const {
  if (auto selected = selectedViewController()) return {selected};
  return {};
}

void UITabBarController::loadView() {
  auto container = UIView::make(UIScreen::mainScreen()->bounds());
  tabBar_->setFrame(tabBarFrame(container->bounds()));
  container->addSubview(tabBar_);
  setView(container);
  installSelectedView();
}

void UITabBarController::installSelectedView() {
  auto container = viewIfLoaded();
  if (!container) return;
  auto selected = selectedViewController();
  auto selectedView = selected ? selected->view() : nullptr;
  auto subviews = container->subviews();
  for (const auto& v : subviews) {
    if (v != tabBar_ && v != selectedView) v->removeFromSuperview();
  }
  if (selectedView && selectedView->superview() != container) {
    selectedView->setFrame(container->bounds());
    container->insertSubview(selectedView, 0);
  }
}

void UITabBarController::updateTabBarItems() {
  std::vector<std::shared_ptr<UITabBarItem>> items;
  for (const auto& c : viewControllers()) items.push_back(c->tabBarItem());
  tabBar_->setItems(std::move(items));
  auto selected = selectedViewController();
  tabBar_->setSelectedItem(selected ? selected->tabBarItem() : nullptr);
}

void UITabBarController::setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers, bool animated) {
  auto oldSelected = selectedViewController();
  auto change = beginChildrenChange(std::move(controllers));
  const auto& tabs = change.children;
  auto kept = std::find(tabs.begin(), tabs.end(), oldSelected);
  std::size_t newIndex = kept != tabs.end() ? static_cast<std::size_t>(kept - tabs.begin()) : 0;
  auto newSelected = newIndex < tabs.size() ? tabs[newIndex] : nullptr;
  transitionBetween(oldSelected, newSelected, animated, [&] {
    setChildViewControllersStorage(change.children);
    selectedIndex_ = newIndex;
    updateTabBarItems();
    installSelectedView();
  });
  endChildrenChange(change);
}

void UITabBarController::select(std::size_t index, bool animated) {
  const auto& tabs = viewControllers();
  if (index >= tabs.size() || index == selectedIndex_) return;
  auto oldSelected = selectedViewController();
  auto newSelected = tabs[index];
  transitionBetween(oldSelected, newSelected, animated, [&] {
    selectedIndex_ = index;
    tabBar_->setSelectedItem(newSelected->tabBarItem());
    installSelectedView();
  });
}

void UITabBarController::setSelectedIndex(std::size_t index) { select(index, false); }

void UITabBarController::setSelectedViewController(const std::shared_ptr<UIViewController>& controller) {
  const auto& tabs = viewControllers();
  auto it = std::find(tabs.begin(), tabs.end(), controller);
  if (it != tabs.end()) select(static_cast<std::size_t>(it - tabs.begin()), false);
}

bool UITabBarController::tapTabAtIndex(std::size_t index) {
  const auto& tabs = viewControllers();
  if (index >= tabs.size() || !tabBar_->canReceiveTouches() || !tabs[index]->tabBarItem()->isEnabled()) return false;
  auto target = tabs[index];
  auto self = sharedAs<UITabBarController>();
  if (auto d = delegate()) {
    if (!d->tabBarControllerShouldSelectViewController(*self, *target)) return false;
  }
  select(index, true);
  if (auto d = delegate()) d->tabBarControllerDidSelectViewController(*self, *target);
  return true;
}

void UITabBarController::viewWillLayoutSubviews() {
  auto container = viewIfLoaded();
  if (!container) return;
  tabBar_->setFrame(tabBarFrame(container->bounds()));
  if (auto selected = selectedViewController(); selected && selected->viewIfLoaded()) {
    selected->viewIfLoaded()->setFrame(container->bounds());
  }
}
