#include "platform/ui/ui_tab_bar.h"

#include "platform/ui/render.h"

void UITabBar::renderSelf(TextCanvas& canvas) const {
  if (items_.empty()) return;
  auto selected = selectedItem();
  std::string text = "tabs:";
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const auto& item = items_[i];
    std::string title = item->title().value_or("");
    if (item == selected) title = "*" + title + "*";
    if (item->badgeValue()) title += " (" + *item->badgeValue() + ")";
    text += (i == 0 ? " " : " | ") + std::to_string(i) + " " + title;
  }
  canvas.line(text);
}
