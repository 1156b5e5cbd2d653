#pragma once

#include <memory>

#include "platform/ui/ui_collection_view_cell.h"
#include "platform/ui/ui_text_field.h"

// The field in which the student types the word of a get-word question. Editing is handled by
// the question screen, which registers itself for the field's edits.
class GetWordCollectionViewCell : public UICollectionViewCell {
 public:
  static constexpr const char* kNibName = "GetWordCollectionViewCell";
  static constexpr const char* kReuseIdentifier = "getWordCell";

  explicit GetWordCollectionViewCell(CGRect frame = {}) : UICollectionViewCell(frame) {}
  explicit GetWordCollectionViewCell(const NSCoder& coder) : UICollectionViewCell(coder) {}

  std::weak_ptr<UITextField> answerTextField;

  void awakeFromNib() override;
  // Locks the field and colours it right or wrong.
  void setEvaluate(bool correct);
  void disableEvaluate();

  void layoutSubviews() override;
  void render(TextCanvas& canvas) const override;
};
