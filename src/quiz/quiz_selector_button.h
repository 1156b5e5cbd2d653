#pragma once

#include <memory>

#include "platform/ui/render.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_control.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"

// One numbered button of the quiz's question strip: a marker for the question shown, a body whose
// tint tells answered, correct or wrong, and the number. Looks are tints only; the control's own
// selected, highlighted and enabled states are never touched.
class QuizSelectorButton : public UIControl {
 public:
  static constexpr const char* kNibName = "QuizSelectorButton";

  explicit QuizSelectorButton(CGRect frame = {}) : UIControl(frame) {}
  explicit QuizSelectorButton(const NSCoder&) : UIControl(CGRect{}) {}

  // The first top-level view of a fresh copy of the nib.
  static std::shared_ptr<QuizSelectorButton> fromNib();

  std::weak_ptr<UIImageView> currentImageView;
  std::weak_ptr<UIImageView> middleImageView;
  std::weak_ptr<UILabel> numberLabel;

  UIColor currentColor;
  UIColor evaluateCurrentColor;
  UIColor selectedColor;
  UIColor deselectedColor;
  UIColor falseColor;
  UIColor correctColor;
  UIColor evaluateTextColor = UIColor::whiteColor();
  UIColor selectedTextColor = UIColor::whiteColor();
  UIColor deselectedTextColor = UIColor::blackColor();

  // Unanswered, with the marker shown only when `current`.
  void setUp(bool current);
  void setCurrent();
  void unsetCurrent();
  // The answered look (setSelected in the design; the control's setSelected(bool) is another thing).
  void setSelectedLook();
  void unsetSelected();
  void setCorrect();
  void setFalse();

  // The number.
  std::optional<std::string> bracketedTitle() const override;

 protected:
  // "[3] current answered": the number, then the looks.
  void renderSelf(TextCanvas& canvas) const override;
  void renderSubviews(TextCanvas&) const override {}

 private:
  const char* look_ = "";
};

// Registers the nib "QuizSelectorButton".
void registerQuizSelectorButtonNib();
