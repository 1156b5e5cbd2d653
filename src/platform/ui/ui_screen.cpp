#include "platform/ui/ui_screen.h"

namespace {
std::shared_ptr<UIScreen>& mainScreenSlot() {
  static auto screen = std::make_shared<UIScreen>();
  return screen;
}
}  // namespace

std::shared_ptr<UIScreen> UIScreen::mainScreen() { return mainScreenSlot(); }

void UIScreen::resetMainScreen() { *mainScreenSlot() = UIScreen(); }
