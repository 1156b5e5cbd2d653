#pragma once

#include <memory>

#include "platform/ui/ui_collection_view_cell.h"
#include "platform/ui/ui_label.h"

// The question text above the answers (an ordinary cell, not a supplementary view).
class QuestionCollectionViewHeader : public UICollectionViewCell {
 public:
  static constexpr const char* kNibName = "QuestionCollectionViewHeader";
  static constexpr const char* kReuseIdentifier = "questionHeaderView";

  explicit QuestionCollectionViewHeader(const NSCoder& coder) : UICollectionViewCell(coder) {}

  std::weak_ptr<UILabel> questionLabel;

  // The target width with the height the question needs at it.
  CGSize preferredLayoutSizeFittingSize(CGSize targetSize);

  void layoutSubviews() override;
  CGSize systemLayoutSizeFittingSize(CGSize targetSize) const override;
};
