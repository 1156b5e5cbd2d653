#include "quiz/question_nibs.h"

#include "platform/ui/ui_nib.h"
#include "quiz/answer_collection_view_cell.h"
#include "quiz/get_word_collection_view_cell.h"
#include "quiz/question_collection_view_header.h"

namespace {

std::shared_ptr<UILabel> multiLineLabel(UINibLoader& nib, const std::shared_ptr<UIView>& parent, UIFont font) {
  auto label = nib.make<UILabel>(parent);
  label->setNumberOfLines(0);
  label->setFont(std::move(font));
  return label;
}

// Phone values; the tile itself enlarges them on a tablet.
std::vector<std::shared_ptr<UIView>> answerCell(UINibLoader& nib) {
  auto cell = nib.make<AnswerCollectionViewCell>(nullptr, CGRectMake(0, 0, 300, 39));
  auto label = multiLineLabel(nib, cell->contentView(), UIFont::systemFontOfSize(15));
  cell->answerLabel = label;
  auto top = NSLayoutConstraint::make();
  top->setIdentifier("topSpaceConstraint");
  top->setConstant(10);
  auto bottom = NSLayoutConstraint::make();
  bottom->setIdentifier("bottomSpaceConstraint");
  bottom->setConstant(10);
  cell->contentView()->addConstraints({top, bottom});
  cell->topSpaceConstraint = top;
  cell->bottomSpaceConstraint = bottom;
  return {cell};
}

std::vector<std::shared_ptr<UIView>> getWordCell(UINibLoader& nib) {
  auto cell = nib.make<GetWordCollectionViewCell>(nullptr, CGRectMake(0, 0, 300, 80));
  auto field = nib.make<UITextField>(cell->contentView());
  field->setAccessibilityIdentifier("answerTextField");
  field->setAutocapitalizationType(UITextAutocapitalizationType::None);
  field->setAutocorrectionType(UITextAutocorrectionType::No);
  cell->answerTextField = field;
  return {cell};
}

std::vector<std::shared_ptr<UIView>> questionHeader(UINibLoader& nib) {
  auto cell = nib.make<QuestionCollectionViewHeader>(nullptr, CGRectMake(0, 0, 300, 60));
  cell->questionLabel = multiLineLabel(nib, cell->contentView(), UIFont::boldSystemFontOfSize(17));
  return {cell};
}

}  // namespace

void registerQuestionNibs() {
  UINib::registerNib(AnswerCollectionViewCell::kNibName, answerCell);
  UINib::registerNib(GetWordCollectionViewCell::kNibName, getWordCell);
  UINib::registerNib(QuestionCollectionViewHeader::kNibName, questionHeader);
}
