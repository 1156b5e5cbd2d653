#include "platform/ui/ui_refresh_control.h"

#include "platform/ui/render.h"

std::shared_ptr<UIRefreshControl> UIRefreshControl::make() { return std::make_shared<UIRefreshControl>(); }

UIRefreshControl::UIRefreshControl() : UIControl(CGRect{}) {}

bool UIRefreshControl::pull() {
  if (refreshing_ || !isUsable()) return false;
  auto keep = weak_from_this().lock();
  refreshing_ = true;
  sendActionsForControlEvents(UIControlEvents::ValueChanged);
  return true;
}

void UIRefreshControl::renderSelf(TextCanvas& canvas) const {
  if (refreshing_) canvas.line("(refreshing)");
}
