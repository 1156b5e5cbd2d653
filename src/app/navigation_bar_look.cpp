#include "app/navigation_bar_look.h"

#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_navigation_controller.h"

void resetBarToPlainLook(UIViewController& screen) {
  auto nav = screen.navigationController();
  if (!nav) return;
  const auto& bar = nav->navigationBar();
  bar->setTitleTextAttributes({{NSForegroundColorAttributeName, screen.view()->tintColor()}});
  bar->setBarTintColor(std::nullopt);
  bar->setTintColor(std::nullopt);
}
