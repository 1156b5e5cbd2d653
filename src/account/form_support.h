#pragma once

#include <memory>
#include <string>

#include "account/school_select_view_controller.h"
#include "app/navigation_bar_look.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/fatal_error.h"
#include "platform/foundation/text.h"
#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard_segue.h"
#include "platform/ui/ui_view_controller.h"

// What the account forms share.

// A validation alert: one line per broken rule, gathered in order, then shown once.
class ValidationMessage {
 public:
  void addIf(bool broken, const char* key) {
    if (broken) text_ += NSLocalizedString(key) + "\n";
  }
  bool empty() const { return text_.empty(); }
  void show(UIViewController& screen, const char* titleKey) const {
    showAlert(screen, NSLocalizedString(titleKey), stringByTrimmingCharacters(text_, CharacterSet::Newlines));
  }

 private:
  std::string text_;
};

// A tap on the form's background calls its hideKeyboard(); taps still reach the fields and buttons.
template <class Screen>
void addHideKeyboardTap(const std::shared_ptr<Screen>& screen) {
  std::weak_ptr<Screen> weak = screen;
  auto tap = UITapGestureRecognizer::make(screen, "hideKeyboard", [weak](UIGestureRecognizer&) {
    if (auto target = weak.lock()) target->hideKeyboard();
  });
  tap->setCancelsTouchesInView(false);
  screen->view()->addGestureRecognizer(tap);
}

// The school list a segue leads to; a segue of that name that leads elsewhere stops the program.
inline std::shared_ptr<SchoolSelectViewController> schoolListOf(const UIStoryboardSegue& segue,
                                                                const char* identifier) {
  auto list = std::dynamic_pointer_cast<SchoolSelectViewController>(segue.destinationViewController());
  if (!list) fatalError(std::string(identifier) + " must lead to a SchoolSelectViewController");
  return list;
}
