#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "newsContentViewController"; the screen itself comes later.
class NewsContentViewController : public UIViewController {
 public:
  NewsContentViewController() = default;
  explicit NewsContentViewController(const NSCoder& coder) : UIViewController(coder) {}
};
