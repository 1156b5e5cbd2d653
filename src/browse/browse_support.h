#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/navigation_bar_look.h"
#include "app/required_outlet.h"
#include "model/color.h"
#include "platform/foundation/fatal_error.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_view_controller.h"

// A dequeued prototype cell as the class the screen expects; another class is a programming error.
template <class Cell, class Dequeued>
std::shared_ptr<Cell> cellAs(std::shared_ptr<Dequeued> cell, const char* identifier) {
  auto typed = std::dynamic_pointer_cast<Cell>(std::move(cell));
  if (!typed) fatalError(std::string("No cell of the right class for ") + identifier);
  return typed;
}

// The browsing screens' picture: the address when it parses, else the bundle's placeholder.
void setBrowsePicture(UIImageView& view, const std::optional<std::string>& url);

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

// A load's failure closure: the overlay goes and the service's message shows as the alert's title.
std::function<void(const std::string& message)> hideOverlayAndAlert(std::shared_ptr<UIViewController> screen);

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
