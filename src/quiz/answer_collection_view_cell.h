#pragma once

#include <memory>

#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_collection_view_cell.h"
#include "platform/ui/ui_label.h"

// One answer as a bordered, shadowed tile. It keeps no quiz state: the question screen fills it
// and asks for one of its looks each time.
class AnswerCollectionViewCell : public UICollectionViewCell {
 public:
  static constexpr const char* kNibName = "AnswerCollectionViewCell";
  static constexpr const char* kReuseIdentifier = "answerCell";

  explicit AnswerCollectionViewCell(const NSCoder& coder) : UICollectionViewCell(coder) {}

  std::weak_ptr<UILabel> answerLabel;
  std::weak_ptr<NSLayoutConstraint> topSpaceConstraint;
  std::weak_ptr<NSLayoutConstraint> bottomSpaceConstraint;

  // The target width with the height the text needs at it.
  CGSize preferredLayoutSizeFittingSize(CGSize targetSize);
  void awakeFromNib() override;
  void setEvaluate(bool correct);
  void disableEvaluate();

  void layoutSubviews() override;
  CGSize systemLayoutSizeFittingSize(CGSize targetSize) const override;
  // The tile's lines, then its look: "(chosen)", "(right)" or "(wrong)". The look is set only
  // through setEvaluate, disableEvaluate and the background color.
  void render(TextCanvas& canvas) const override;
  bool drawsOnlyReportedState() const override;

  // Space left and right of the label (the nib's).
  static constexpr CGFloat kSideSpace = 10;

 private:
  void setBorder(CGFloat width, const UIColor& color);
};
