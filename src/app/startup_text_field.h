#pragma once

#include "app/padded_text_field.h"

// The text fields of the login and registration screens: dark, translucent, wide inner margins.
// The look is set on waking from the storyboard; a field made in code has only the margins.
class StartupTextField : public PaddedTextField {
 public:
  explicit StartupTextField(CGRect frame = {}) : PaddedTextField(kPadding, frame) {}
  explicit StartupTextField(const NSCoder& coder) : PaddedTextField(kPadding, coder) {}

  void awakeFromNib() override;

 private:
  static constexpr UIEdgeInsets kPadding{0, 32, 0, 32};
};
