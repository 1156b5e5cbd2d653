#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/color.h"
#include "platform/foundation/fatal_error.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_view_controller.h"

// A weak outlet the screen cannot work without; an unconnected one is a programming error.
template <class T>
std::shared_ptr<T> connected(const std::weak_ptr<T>& view, const char* name) {
  auto strong = view.lock();
  if (!strong) fatalError(std::string("Outlet ") + name + " is not connected");
  return strong;
}

// The browsing screens' picture: the address when it parses, else the bundle's placeholder.
void setBrowsePicture(UIImageView& view, const std::optional<std::string>& url);

// The shared bar back to the toolkit's colours, its title in the root view's tint.
void resetBarToPlainLook(UIViewController& screen);

// The shared bar in a lecture's colours; it stays so until a plain screen resets it.
void colorBar(UIViewController& screen, const Color& colors);

// Colours the bar for a lecture's screen the first time the screen has a navigation controller. A
// pushed screen joins its navigation controller only after its view has loaded, so call it from
// viewDidLoad and again from viewDidAppear.
class LectureBarColoring {
 public:
  void apply(UIViewController& screen, const std::optional<Color>& colors);

 private:
  bool done_ = false;
};

// Hands a lecture's primary and primary text colours on to the next screen, when it has colours.
template <class Screen>
void passLectureColors(Screen& next, const std::optional<Color>& colors) {
  if (!colors) return;
  next.setLectureColor(colors->primary);
  next.setLectureTextColor(colors->primaryText);
}

// Pushes `next` over `screen` while it is still on a navigation stack: a reply that arrives after
// the user went back has nowhere to go.
void pushIfStillShown(UIViewController& screen, const std::shared_ptr<UIViewController>& next);
