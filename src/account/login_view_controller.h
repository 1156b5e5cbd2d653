#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the initial scene's root of the "Startup" storyboard; the screen itself comes later.
class LoginViewController : public UIViewController {
 public:
  LoginViewController() = default;
  explicit LoginViewController(const NSCoder& coder) : UIViewController(coder) {}
};
