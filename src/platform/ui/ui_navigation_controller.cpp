#include "platform/ui/ui_navigation_controller.h"

#include <algorithm>
#include <cstdio>

#include "platform/ui/ui_screen.h"

namespace {

constexpr CGFloat kStatusBarHeight = 20;
constexpr CGFloat kNavigationBarHeight = 44;

}  // namespace

UINavigationController::UINavigationController()
    : navigationBar_(std::make_shared<UINavigationBar>(
          CGRectMake(0, kStatusBarHeight, UIScreen::mainScreen()->bounds().width(), kNavigationBarHeight))) {}

UINavigationController::UINavigationController(const NSCoder&) : UINavigationController() {}

UINavigationController::UINavigationController(const std::shared_ptr<UIViewController>& rootViewController)
    : UINavigationController() {
  if (rootViewController) {
    adoptChild(rootViewController);
    updateBarItems();
  }
}

std::shared_ptr<UIViewController> UINavigationController::topViewController() const {
  const auto& stack = viewControllers();
  return stack.empty() ? nullptr : stack.back();
}

std::shared_ptr<UIViewController> UINavigationController::visibleViewController() const {
  if (auto presented = presentedViewController()) return presented;
  return topViewController();
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::childViewControllersOnScreen() const {
  if (auto top = topViewController()) return {top};
  return {};
}

void UINavigationController::loadView() {
  auto container = UIView::make(UIScreen::mainScreen()->bounds());
  navigationBar_->setFrame(CGRectMake(0, kStatusBarHeight, container->bounds().width(), kNavigationBarHeight));
  container->addSubview(navigationBar_);
  setView(container);
  installTopView();
}

void UINavigationController::updateBarItems() {
  std::vector<std::shared_ptr<UINavigationItem>> items;
  for (const auto& c : viewControllers()) items.push_back(c->navigationItem());
  navigationBar_->setItems(std::move(items));
}

void UINavigationController::installTopView() {
  auto container = viewIfLoaded();
  if (!container) return;
  auto top = topViewController();
  auto topView = top ? top->view() : nullptr;
  auto subviews = container->subviews();
  for (const auto& v : subviews) {
    if (v != navigationBar_ && v != topView) v->removeFromSuperview();
  }
  if (topView && topView->superview() != container) {
    topView->setFrame(container->bounds());
    // After the bar, so the screen reads from the top.
    container->addSubview(topView);
  }
}

void UINavigationController::replaceStack(std::vector<std::shared_ptr<UIViewController>> stack, bool animated) {
  auto oldTop = topViewController();
  auto change = beginChildrenChange(std::move(stack));
  auto newTop = change.children.empty() ? nullptr : change.children.back();
  for (const auto& c : change.added) c->movingToParent_ = true;
  for (const auto& c : change.removed) c->movingFromParent_ = true;
  transitionBetween(oldTop, newTop, animated, [&] {
    setChildViewControllersStorage(change.children);
    updateBarItems();
    installTopView();
  });
  endChildrenChange(change);
  for (const auto& c : change.added) c->movingToParent_ = false;
  for (const auto& c : change.removed) c->movingFromParent_ = false;
}

void UINavigationController::setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers,
                                                bool animated) {
  replaceStack(std::move(controllers), animated);
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated) {
  if (!controller) return;
  if (controller->parentViewController() || controller.get() == this) {
    std::fprintf(stderr, "Warning: cannot push <%s>: it is already in a navigation stack or has a parent\n",
                 controller->className().c_str());
    return;
  }
  auto stack = viewControllers();
  stack.push_back(controller);
  replaceStack(std::move(stack), animated);
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
  auto stack = viewControllers();
  if (stack.size() < 2) return nullptr;
  auto popped = stack.back();
  stack.pop_back();
  replaceStack(std::move(stack), animated);
  return popped;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToViewController(
    const std::shared_ptr<UIViewController>& controller, bool animated) {
  auto stack = viewControllers();
  auto it = std::find(stack.begin(), stack.end(), controller);
  if (it == stack.end() || it + 1 == stack.end()) return {};
  std::vector<std::shared_ptr<UIViewController>> popped(it + 1, stack.end());
  stack.erase(it + 1, stack.end());
  replaceStack(std::move(stack), animated);
  return popped;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToRootViewControllerAnimated(bool animated) {
  const auto& stack = viewControllers();
  if (stack.empty()) return {};
  return popToViewController(stack.front(), animated);
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool) { navigationBar_->setHidden(hidden); }

bool UINavigationController::tapBackButton() {
  if (!navigationBar_->isBackButtonVisible() || !navigationBar_->canReceiveTouches()) return false;
  popViewControllerAnimated(true);
  return true;
}

void UINavigationController::viewWillLayoutSubviews() {
  auto container = viewIfLoaded();
  if (!container) return;
  navigationBar_->setFrame(CGRectMake(0, kStatusBarHeight, container->bounds().width(), kNavigationBarHeight));
  if (auto top = topViewController(); top && top->viewIfLoaded()) top->viewIfLoaded()->setFrame(container->bounds());
}
