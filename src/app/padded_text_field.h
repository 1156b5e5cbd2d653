#pragma once

#include "platform/ui/ui_text_field.h"

// A text field whose text, placeholder and caret keep a fixed distance from its edges.
class PaddedTextField : public UITextField {
 public:
  UIEdgeInsets padding() const { return padding_; }

  CGRect textRectForBounds(CGRect bounds) const override { return UIEdgeInsetsInsetRect(bounds, padding_); }
  CGRect placeholderRectForBounds(CGRect bounds) const override { return UIEdgeInsetsInsetRect(bounds, padding_); }
  CGRect editingRectForBounds(CGRect bounds) const override { return UIEdgeInsetsInsetRect(bounds, padding_); }

 protected:
  PaddedTextField(UIEdgeInsets padding, CGRect frame) : UITextField(frame), padding_(padding) {}
  PaddedTextField(UIEdgeInsets padding, const NSCoder& coder) : UITextField(coder), padding_(padding) {}

 private:
  const UIEdgeInsets padding_;
};
