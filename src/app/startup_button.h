#pragma once

#include "platform/ui/ui_button.h"

// The buttons of the login, registration and profile screens: rounded corners, set on waking from
// the storyboard.
class StartupButton : public UIButton {
 public:
  explicit StartupButton(CGRect frame = {}) : UIButton(frame) {}
  explicit StartupButton(const NSCoder& coder) : UIButton(coder) {}

  void awakeFromNib() override;
};
