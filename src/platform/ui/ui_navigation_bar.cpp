#include "platform/ui/ui_navigation_bar.h"

#include "platform/ui/render.h"

bool UINavigationBar::isBackButtonVisible() const {
  auto top = topItem();
  if (!top || !backItem() || top->hidesBackButton()) return false;
  return top->leftBarButtonItems().empty() || top->leftItemsSupplementBackButton();
}

std::vector<std::shared_ptr<UIBarButtonItem>> UINavigationBar::visibleBarButtonItems() const {
  std::vector<std::shared_ptr<UIBarButtonItem>> out;
  auto top = topItem();
  if (!top) return out;
  for (const auto& i : top->leftBarButtonItems()) out.push_back(i);
  for (const auto& i : top->rightBarButtonItems()) out.push_back(i);
  return out;
}

std::shared_ptr<UIImage> UINavigationBar::backgroundImageForBarMetrics(UIBarMetrics metrics) const {
  auto it = backgroundImages_.find(metrics);
  return it == backgroundImages_.end() ? nullptr : it->second;
}

std::string renderBarButtonItem(const UIBarButtonItem& item) {
  if (item.customView()) return renderOnOneLine(*item.customView());
  std::string text = "[" + item.displayTitle() + "]";
  if (!item.isEnabled()) text += " (disabled)";
  return text;
}

void UINavigationBar::renderSelf(TextCanvas& canvas) const {
  auto top = topItem();
  if (!top) return;
  std::string text;
  auto append = [&text](const std::string& piece) {
    if (piece.empty()) return;  // a custom view that shows nothing
    if (!text.empty()) text += ' ';
    text += piece;
  };
  if (isBackButtonVisible()) append("[< " + backItem()->backTitle() + "]");
  for (const auto& item : top->leftBarButtonItems()) append(renderBarButtonItem(*item));
  append("=== " + top->title().value_or("") + " ===");
  for (const auto& item : top->rightBarButtonItems()) append(renderBarButtonItem(*item));
  canvas.line(text);
}
