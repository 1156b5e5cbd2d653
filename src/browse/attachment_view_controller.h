#pragma once

#include "platform/ui/ui_view_controller.h"

// Placeholder for the "Main" storyboard's scene "attachmentViewController"; the screen itself comes later.
class AttachmentViewController : public UIViewController {
 public:
  AttachmentViewController() = default;
  explicit AttachmentViewController(const NSCoder& coder) : UIViewController(coder) {}
};
