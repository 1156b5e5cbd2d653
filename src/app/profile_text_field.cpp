#include "app/profile_text_field.h"

#include "platform/ui/ui_screen.h"

void ProfileTextField::awakeFromNib() {
  PaddedTextField::awakeFromNib();
  layer().borderWidth = 1 / UIScreen::mainScreen()->scale();
  // The tint at this moment: a later tint change leaves the border as it is.
  layer().borderColor = tintColor().CGColor();
  layer().cornerRadius = 3;
}
