#pragma once

#include "app/padded_text_field.h"

// The password fields of the profile screen: a one-pixel border in the tint colour, small inner
// margins. The look is set on waking from the storyboard; a field made in code has only the
// margins.
class ProfileTextField : public PaddedTextField {
 public:
  explicit ProfileTextField(CGRect frame = {}) : PaddedTextField(kPadding, frame) {}
  explicit ProfileTextField(const NSCoder& coder) : PaddedTextField(kPadding, coder) {}

  void awakeFromNib() override;

 private:
  static constexpr UIEdgeInsets kPadding{0, 10, 0, 10};
};
