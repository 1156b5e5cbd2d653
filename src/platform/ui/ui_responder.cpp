#include "platform/ui/ui_responder.h"

// Unhandled touches travel up the responder chain.
void UIResponder::touchesBegan(const std::vector<UITouch>& touches, const UIEvent* event) {
  if (auto next = nextResponder()) next->touchesBegan(touches, event);
}

void UIResponder::touchesEnded(const std::vector<UITouch>& touches, const UIEvent* event) {
  if (auto next = nextResponder()) next->touchesEnded(touches, event);
}

void UIResponder::touchesCancelled(const std::vector<UITouch>& touches, const UIEvent* event) {
  if (auto next = nextResponder()) next->touchesCancelled(touches, event);
}
