#include "quiz/answer_collection_view_cell.h"

#include <typeinfo>

#include "model/color.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_screen.h"
#include "quiz/quiz_support.h"

namespace {

CGFloat constantOf(const std::weak_ptr<NSLayoutConstraint>& constraint) {
  auto c = constraint.lock();
  return c ? c->constant() : 0;
}

}  // namespace

CGSize AnswerCollectionViewCell::preferredLayoutSizeFittingSize(CGSize targetSize) {
  setFrame(CGRect{frame().origin, targetSize});
  setNeedsLayout();
  layoutIfNeeded();
  if (auto label = answerLabel.lock()) label->setPreferredMaxLayoutWidth(label->frame().size.width);
  CGSize fitted = systemLayoutSizeFittingSize(UILayoutFittingCompressedSize);
  return {targetSize.width, fitted.height};
}

void AnswerCollectionViewCell::awakeFromNib() {
  UICollectionViewCell::awakeFromNib();
  if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad) {
    if (auto c = topSpaceConstraint.lock()) c->setConstant(20.0);
    if (auto c = bottomSpaceConstraint.lock()) c->setConstant(20.0);
    if (auto label = answerLabel.lock()) label->setFont(label->font().fontWithSize(19.0));
  }
  layer().cornerRadius = 3.0;
  disableEvaluate();
  layer().shadowOffset = CGSize{0, 1.0};
  layer().shadowColor = UIColor::lightGrayColor();
  layer().shadowOpacity = 1.0;
  layer().shadowRadius = 0.5;
  // The shadow shows around the rounded tile.
  setClipsToBounds(false);
}

void AnswerCollectionViewCell::setEvaluate(bool correct) {
  setBorder(3.0, correct ? quiz_colors::evaluatedRight() : UIColor::redColor());
}

void AnswerCollectionViewCell::disableEvaluate() {
  setBorder(1.0 / UIScreen::mainScreen()->scale(), UIColor::darkGrayColor());
}

// The border is what render reads: a change of it is reported, so a list keeps the tile's drawing
// while the screen sets the same look again.
void AnswerCollectionViewCell::setBorder(CGFloat width, const UIColor& color) {
  auto& look = layer();
  if (look.borderWidth == width && look.borderColor == color) return;
  renderInputChanged();
  look.borderWidth = width;
  look.borderColor = color;
}

bool AnswerCollectionViewCell::drawsOnlyReportedState() const {
  return typeid(*this) == typeid(AnswerCollectionViewCell);
}

void AnswerCollectionViewCell::layoutSubviews() {
  UICollectionViewCell::layoutSubviews();
  contentView()->setFrame(bounds());
  auto label = answerLabel.lock();
  if (!label) return;
  CGFloat width = bounds().size.width - 2 * kSideSpace;
  CGFloat top = constantOf(topSpaceConstraint);
  CGFloat height = bounds().size.height - top - constantOf(bottomSpaceConstraint);
  label->setFrame(CGRectMake(kSideSpace, top, width > 0 ? width : 0, height > 0 ? height : 0));
}

// Label height at its wrapping width between the two space constraints.
CGSize AnswerCollectionViewCell::systemLayoutSizeFittingSize(CGSize targetSize) const {
  auto label = answerLabel.lock();
  CGFloat text = label ? label->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize).height : 0;
  return {targetSize.width > 0 ? targetSize.width : bounds().size.width,
          constantOf(topSpaceConstraint) + text + constantOf(bottomSpaceConstraint)};
}

void AnswerCollectionViewCell::render(TextCanvas& canvas) const {
  UICollectionViewCell::render(canvas);
  if (isHidden()) return;
  if (layer().borderWidth == 3.0) {
    canvas.line(layer().borderColor == quiz_colors::evaluatedRight() ? "(right)" : "(wrong)");
  } else if (backgroundColor() == quiz_colors::chosen()) {
    canvas.line("(chosen)");
  }
}
