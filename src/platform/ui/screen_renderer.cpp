#include "platform/ui/screen_renderer.h"

#include <utility>
#include <vector>

#include "platform/ui/render.h"
#include "platform/ui/ui_window.h"

namespace {

std::vector<std::pair<std::string, ScreenRenderer::Overlay>>& overlays() {
  static std::vector<std::pair<std::string, ScreenRenderer::Overlay>> list;
  return list;
}

}  // namespace

void ScreenRenderer::registerOverlay(const std::string& name, Overlay overlay) {
  for (auto& [n, o] : overlays()) {
    if (n == name) {
      o = std::move(overlay);
      return;
    }
  }
  overlays().emplace_back(name, std::move(overlay));
}

void ScreenRenderer::unregisterOverlay(const std::string& name) {
  auto& list = overlays();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->first == name) {
      list.erase(it);
      return;
    }
  }
}

bool ScreenRenderer::overlayBlocksTouches() {
  for (const auto& [name, overlay] : overlays()) {
    if (overlay.blocksTouches && overlay.blocksTouches()) return true;
  }
  return false;
}

void ScreenRenderer::render(const UIWindow& window, TextCanvas& canvas) {
  window.render(canvas);
  for (const auto& [name, overlay] : overlays()) {
    if (overlay.render) overlay.render(canvas);
  }
}

std::string ScreenRenderer::render(const UIWindow& window) {
  TextCanvas canvas;
  render(window, canvas);
  return canvas.text();
}
