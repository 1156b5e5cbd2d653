#pragma once

#include <functional>
#include <string>

class TextCanvas;
class UIWindow;

// The text picture of what a window shows: each controller's views draw themselves (navigation
// bar with title and bar buttons, the shown screen's view tree, the tab bar with the selected
// tab), then the presented chain on top (a full-screen presentation hides what is beneath it,
// an alert does not), then the registered overlays (the progress HUD) over everything.
class ScreenRenderer {
 public:
  // An overlay writes its lines while it shows, none otherwise. While blocksTouches answers true
  // the console driver refuses every touch.
  struct Overlay {
    std::function<void(TextCanvas&)> render;
    std::function<bool()> blocksTouches;
  };
  // Replaces an overlay of the same name; overlays draw in the order first registered.
  static void registerOverlay(const std::string& name, Overlay overlay);
  static void unregisterOverlay(const std::string& name);
  // Whether a registered overlay keeps touches from the screen now.
  static bool overlayBlocksTouches();

  static void render(const UIWindow& window, TextCanvas& canvas);
  // All lines, each ended by "\n".
  static std::string render(const UIWindow& window);
};
