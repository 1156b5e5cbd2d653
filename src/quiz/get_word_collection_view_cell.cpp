#include "quiz/get_word_collection_view_cell.h"

#include "model/color.h"
#include "platform/ui/render.h"
#include "quiz/quiz_support.h"

namespace {}  // namespace

void GetWordCollectionViewCell::awakeFromNib() {
  UICollectionViewCell::awakeFromNib();
  if (auto field = answerTextField.lock()) {
    field->layer().borderWidth = 1.0;
    field->layer().cornerRadius = 8.0;
  }
}

void GetWordCollectionViewCell::setEvaluate(bool correct) {
  auto field = answerTextField.lock();
  if (!field) return;
  field->setEnabled(false);
  const UIColor& color = correct ? quiz_colors::evaluatedRight() : UIColor::redColor();
  field->layer().borderColor = color;
  field->setTextColor(color);
}

void GetWordCollectionViewCell::disableEvaluate() {
  auto field = answerTextField.lock();
  if (!field) return;
  field->setEnabled(true);
  field->layer().borderColor = tintColor();
  field->setTextColor(UIColor::blackColor());
}

void GetWordCollectionViewCell::layoutSubviews() {
  UICollectionViewCell::layoutSubviews();
  contentView()->setFrame(bounds());
  if (auto field = answerTextField.lock()) field->setFrame(CGRectMake(0, 0, bounds().size.width, 40));
}

void GetWordCollectionViewCell::render(TextCanvas& canvas) const {
  UICollectionViewCell::render(canvas);
  auto field = answerTextField.lock();
  if (isHidden() || !field || field->isEnabled()) return;
  canvas.line(field->textColor() == quiz_colors::evaluatedRight() ? "(right)" : "(wrong)");
}
