#include "platform/ui/ui_window.h"

#include "platform/ui/ui_application.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_view_controller.h"

UIWindow::UIWindow() : UIWindow(UIScreen::mainScreen()->bounds()) {}

UIWindow::UIWindow(CGRect frame) : UIView(frame) { setHidden(true); }

std::shared_ptr<UIWindow> UIWindow::make() { return std::make_shared<UIWindow>(); }

std::shared_ptr<UIWindow> UIWindow::make(CGRect frame) { return std::make_shared<UIWindow>(frame); }

void UIWindow::installRootView() {
  if (!root_) return;
  auto rootView = root_->view();
  if (rootView->superview().get() == this) return;
  // A root that presents full screen keeps its view out until the dismissal.
  if (root_->presentedViewController() && UIViewController::hidesPresenter(*root_->presentedViewController())) return;
  rootView->setFrame(bounds());
  insertSubview(rootView, 0);
}

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller) {
  if (controller == root_) return;
  auto old = root_;
  const bool visible = !isHidden();
  if (visible && old) old->beginAppearanceTransition(false, false);
  if (visible && controller) controller->beginAppearanceTransition(true, false);
  if (old) {
    auto oldView = old->viewIfLoaded();
    if (oldView && oldView->superview().get() == this) oldView->removeFromSuperview();
  }
  root_ = std::move(controller);
  if (visible) installRootView();
  if (visible && old) old->endAppearanceTransition();
  if (visible && root_) root_->endAppearanceTransition();
}

void UIWindow::makeKeyAndVisible() {
  makeKeyWindow();
  if (!isHidden()) return;
  setHidden(false);
  if (!root_) return;
  root_->beginAppearanceTransition(true, false);
  installRootView();
  root_->endAppearanceTransition();
}

void UIWindow::makeKeyWindow() { UIApplication::sharedApplication()->setKeyWindow(sharedAs<UIWindow>()); }

bool UIWindow::isKeyWindow() const { return UIApplication::sharedApplication()->keyWindow().get() == this; }

std::shared_ptr<UIViewController> UIWindow::topPresentedViewController() const {
  auto top = root_;
  if (!top) return nullptr;
  while (auto presented = top->presentedViewController()) top = presented;
  return top;
}

std::shared_ptr<UIViewController> UIWindow::visibleViewController() const {
  auto visible = topPresentedViewController();
  while (visible) {
    std::shared_ptr<UIViewController> shown;
    if (auto* nav = dynamic_cast<UINavigationController*>(visible.get())) {
      shown = nav->topViewController();
    } else if (auto* tabs = dynamic_cast<UITabBarController*>(visible.get())) {
      shown = tabs->selectedViewController();
    }
    if (!shown) break;
    visible = shown;
  }
  return visible;
}

namespace {

void layoutControllerIfNeeded(const std::shared_ptr<UIViewController>& c) {
  if (!c || !c->isOnScreen()) return;
  auto view = c->viewIfLoaded();
  if (view && view->needsLayout()) return c->layoutPass();  // the children's passes included
  for (const auto& child : c->childViewControllersOnScreen()) layoutControllerIfNeeded(child);
}

}  // namespace

void UIWindow::layoutOnScreenIfNeeded() {
  // Pictures and other replies that move nothing come often while the run loop settles. What a
  // pass changes itself is looked at by the next one.
  const auto generation = UIView::layoutGeneration();
  if (laidOutAt_ == generation) return;
  auto self = sharedAs<UIWindow>();
  for (auto c = root_; c; c = c->presentedViewController()) layoutControllerIfNeeded(c);
  layoutIfNeeded();
  laidOutAt_ = generation;
}
