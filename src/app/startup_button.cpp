#include "app/startup_button.h"

void StartupButton::awakeFromNib() {
  UIButton::awakeFromNib();
  layer().cornerRadius = 3;
}
