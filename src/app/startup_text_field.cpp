#include "app/startup_text_field.h"

void StartupTextField::awakeFromNib() {
  PaddedTextField::awakeFromNib();
  setBackgroundColor(UIColor::colorWithRed(0, 0, 0, 0.5));
  layer().cornerRadius = 3;
}
