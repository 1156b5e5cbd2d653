#pragma once

#include <memory>

#include "platform/ui/geometry.h"

// The display. Its size and pixel density are settings, so tests can play any device; rotation
// swaps the bounds.
class UIScreen {
 public:
  static std::shared_ptr<UIScreen> mainScreen();
  // Puts the main screen back to its defaults (375 x 667 points at scale 2).
  static void resetMainScreen();

  CGRect bounds() const { return bounds_; }
  void setBounds(CGRect bounds) { bounds_ = bounds; }
  CGFloat scale() const { return scale_; }
  void setScale(CGFloat scale) { scale_ = scale; }

 private:
  CGRect bounds_ = CGRectMake(0, 0, 375, 667);
  CGFloat scale_ = 2;
};
