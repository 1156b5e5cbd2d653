#include "platform/ui/ui_device.h"

#include <functional>
#include <optional>
#include <vector>

#include "platform/foundation/notification_center.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_view_controller.h"
#include "platform/ui/ui_window.h"

namespace {

std::shared_ptr<UIDevice>& currentSlot() {
  static auto device = std::make_shared<UIDevice>();
  return device;
}

// The interface follows the device, mirrored for landscape as on the platform.
std::optional<UIInterfaceOrientation> interfaceOrientationFor(UIDeviceOrientation o) {
  switch (o) {
    case UIDeviceOrientation::Portrait: return UIInterfaceOrientation::Portrait;
    case UIDeviceOrientation::PortraitUpsideDown: return UIInterfaceOrientation::PortraitUpsideDown;
    case UIDeviceOrientation::LandscapeLeft: return UIInterfaceOrientation::LandscapeRight;
    case UIDeviceOrientation::LandscapeRight: return UIInterfaceOrientation::LandscapeLeft;
    default: return std::nullopt;
  }
}

void collectOnScreen(const std::shared_ptr<UIViewController>& c, std::vector<std::shared_ptr<UIViewController>>& out) {
  if (!c || !c->isOnScreen()) return;
  out.push_back(c);
  for (const auto& child : c->childViewControllersOnScreen()) collectOnScreen(child, out);
}

}  // namespace

std::shared_ptr<UIDevice> UIDevice::currentDevice() { return currentSlot(); }

void UIDevice::resetCurrentDevice() { currentSlot() = std::make_shared<UIDevice>(); }

void UIDevice::setOrientation(UIDeviceOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  NotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification,
                                                            shared_from_this());
}

void UIDevice::rotate(UIDeviceOrientation orientation) {
  setOrientation(orientation);
  auto to = interfaceOrientationFor(orientation);
  auto application = UIApplication::sharedApplication();
  const auto from = application->statusBarOrientation();
  if (!to || *to == from) return;
  application->setStatusBarOrientation(*to);

  auto screen = UIScreen::mainScreen();
  CGRect bounds = screen->bounds();
  if (UIInterfaceOrientationIsLandscape(*to) != UIInterfaceOrientationIsLandscape(from)) {
    bounds.size = CGSize{bounds.height(), bounds.width()};
    screen->setBounds(bounds);
  }

  auto window = application->keyWindow();
  if (!window) return;
  // The root and each presented controller fill the window; containers fit their children.
  std::vector<std::shared_ptr<UIViewController>> tops;
  for (auto c = window->rootViewController(); c; c = c->presentedViewController()) tops.push_back(c);
  std::vector<std::shared_ptr<UIViewController>> onScreen;
  for (const auto& top : tops) collectOnScreen(top, onScreen);

  for (const auto& c : onScreen) c->willRotateToInterfaceOrientation(*to, 0.3);
  UIViewControllerTransitionCoordinator coordinator;
  for (const auto& c : onScreen) c->viewWillTransitionToSize(bounds.size, coordinator);
  window->setFrame(bounds);
  for (const auto& top : tops) {
    if (auto v = top->viewIfLoaded()) v->setFrame(CGRectMake(0, 0, bounds.width(), bounds.height()));
  }
  for (const auto& top : tops) {
    if (top->isOnScreen()) top->layoutPass();
  }
  for (const auto& c : onScreen) c->didRotateFromInterfaceOrientation(from);
}
