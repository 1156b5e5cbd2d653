#include "quiz/simple_question_view_controller.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/required_outlet.h"
#include "model/color.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/fatal_error.h"
#include "platform/foundation/text.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_nib.h"
#include "quiz/get_word_collection_view_cell.h"
#include "quiz/quiz_support.h"

namespace {

template <class T>
std::shared_ptr<T> dequeue(UICollectionView& collectionView, const char* identifier, const NSIndexPath& indexPath) {
  auto cell =
      std::dynamic_pointer_cast<T>(collectionView.dequeueReusableCellWithReuseIdentifier(identifier, indexPath));
  if (!cell) fatalError(std::string("The cell ") + identifier + " is of another class");
  return cell;
}

bool isPad() { return UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad; }

}  // namespace

SimpleQuestionViewController::~SimpleQuestionViewController() {
  if (orientationObserver_ != 0) NotificationCenter::defaultCenter()->removeObserver(orientationObserver_);
}

std::shared_ptr<UICollectionView> SimpleQuestionViewController::requiredCollectionView() const {
  return requiredOutlet(collectionView_, "collectionView");
}

std::shared_ptr<UICollectionViewFlowLayout> SimpleQuestionViewController::flowLayout() const {
  auto layout = std::dynamic_pointer_cast<UICollectionViewFlowLayout>(requiredCollectionView()->collectionViewLayout());
  if (!layout) fatalError("The question screen's collection view needs a flow layout");
  return layout;
}

void SimpleQuestionViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  if (!quizQuestion_) fatalError("The question screen was loaded without its question");
  std::weak_ptr<SimpleQuestionViewController> weak = sharedAs<SimpleQuestionViewController>();
  orientationObserver_ = NotificationCenter::defaultCenter()->addObserverForName(
      UIDeviceOrientationDidChangeNotification, nullptr, nullptr, [weak](const Notification&) {
        if (auto self = weak.lock()) self->orientationDidChange();
      });
  sizingAnswerCell_ = firstNibObject<AnswerCollectionViewCell>(AnswerCollectionViewCell::kNibName);
  headerView_ = firstNibObject<QuestionCollectionViewHeader>(QuestionCollectionViewHeader::kNibName);
  if (auto label = headerView_->questionLabel.lock()) label->setText(quizQuestion_->text());

  auto collection = requiredCollectionView();
  collection->registerNib(UINib::nibWithNibName(AnswerCollectionViewCell::kNibName),
                          AnswerCollectionViewCell::kReuseIdentifier);
  collection->registerNib(UINib::nibWithNibName(GetWordCollectionViewCell::kNibName),
                          GetWordCollectionViewCell::kReuseIdentifier);
  collection->registerNib(UINib::nibWithNibName(QuestionCollectionViewHeader::kNibName),
                          QuestionCollectionViewHeader::kReuseIdentifier);
  collection->setContentInset(UIEdgeInsets{10, 30, 10, 30});
  auto layout = flowLayout();
  layout->setSectionInset(UIEdgeInsets{});
  if (isPad()) layout->setMinimumLineSpacing(20);
  normaliseAnswers();
}

void SimpleQuestionViewController::normaliseAnswers() {
  auto answers = quizQuestion_->answer();
  // Without a first answer there is nothing to turn into tiles: the question shows none.
  if (answers.empty()) return;
  switch (quizQuestion_->type()) {
    case QuizQuestionType::trueFalse: {
      // The first answer says whether the statement is true; the true tile always comes first.
      auto statement = answers.front();
      auto other = QuizAnswer::initWithAnswerText(0, false, std::nullopt);
      if (statement->isCorrect()) {
        statement->setAnswerText(NSLocalizedString("truefalse_answer_true"));
        other->setAnswerText(NSLocalizedString("truefalse_answer_false"));
        answers.push_back(other);
      } else {
        statement->setAnswerText(NSLocalizedString("truefalse_answer_false"));
        statement->setIsCorrect(true);
        other->setAnswerText(NSLocalizedString("truefalse_answer_true"));
        answers.insert(answers.begin(), other);
      }
      break;
    }
    case QuizQuestionType::getWord:
      answers.front()->setIsCorrect(true);
      answers.push_back(QuizAnswer::initWithAnswerText(0, false, std::string()));
      break;
    case QuizQuestionType::oneCorrect:
    case QuizQuestionType::moreCorrect: return;
  }
  quizQuestion_->setAnswer(std::move(answers));
}

bool SimpleQuestionViewController::hasWordAnswers() const { return quizQuestion_->answer().size() >= 2; }

int SimpleQuestionViewController::numberOfItemsInSection(UICollectionView&, int section) {
  if (section == 0) return 1;
  if (quizQuestion_->type() == QuizQuestionType::getWord) return hasWordAnswers() ? 1 : 0;
  return static_cast<int>(quizQuestion_->answer().size());
}

std::shared_ptr<UICollectionViewCell> SimpleQuestionViewController::cellForItemAtIndexPath(
    UICollectionView& collectionView, const NSIndexPath& indexPath) {
  if (indexPath.section == 0) {
    auto cell = dequeue<QuestionCollectionViewHeader>(collectionView, QuestionCollectionViewHeader::kReuseIdentifier,
                                                      indexPath);
    if (auto label = cell->questionLabel.lock()) label->setText(quizQuestion_->text());
    return cell;
  }
  if (quizQuestion_->type() != QuizQuestionType::getWord) {
    auto cell =
        dequeue<AnswerCollectionViewCell>(collectionView, AnswerCollectionViewCell::kReuseIdentifier, indexPath);
    configureAnswerCell(*cell, indexPath);
    return cell;
  }
  auto cell =
      dequeue<GetWordCollectionViewCell>(collectionView, GetWordCollectionViewCell::kReuseIdentifier, indexPath);
  if (auto field = cell->answerTextField.lock()) {
    // Added on every configuration; the field keeps one binding per target and action.
    std::weak_ptr<SimpleQuestionViewController> weak = sharedAs<SimpleQuestionViewController>();
    field->addTarget(weak.lock(), "textFieldValueDidChange:", UIControlEvents::EditingChanged,
                     [weak](UIControl& sender, const UIEvent*) {
                       auto self = weak.lock();
                       auto* textField = dynamic_cast<UITextField*>(&sender);
                       if (self && textField) self->textFieldValueDidChange(*textField);
                     });
    const auto& answers = quizQuestion_->answer();
    if (!answers[0]->selected() && !answers[1]->selected()) field->setText(std::string());
  }
  if (evaluate_) {
    cell->setEvaluate(isCorrect());
  } else {
    cell->disableEvaluate();
  }
  return cell;
}

void SimpleQuestionViewController::configureAnswerCell(AnswerCollectionViewCell& cell, const NSIndexPath& indexPath) {
  const auto& answer = quizQuestion_->answer().at(static_cast<std::size_t>(indexPath.row));
  if (answer->answerText()) {
    if (auto label = cell.answerLabel.lock()) label->setText(answer->answerText());
  }
  cell.setBackgroundColor(UIColor::whiteColor());
  if (!(evaluate_ && answer->selected())) cell.disableEvaluate();
  if (!evaluate_ && answer->selected()) {
    cell.setBackgroundColor(quiz_colors::chosen());
    return;
  }
  if (evaluate_ && answer->selected()) cell.setEvaluate(answer->selected() == answer->isCorrect());
}

void SimpleQuestionViewController::touchesBegan(const std::vector<UITouch>&, const UIEvent*) {
  if (auto collection = collectionView_.lock()) collection->endEditing(true);
}

void SimpleQuestionViewController::orientationDidChange() {
  if (auto collection = collectionView_.lock()) collection->collectionViewLayout()->invalidateLayout();
}

void SimpleQuestionViewController::viewWillTransitionToSize(CGSize, const UIViewControllerTransitionCoordinator&) {
  orientationDidChange();
}

void SimpleQuestionViewController::viewDidLayoutSubviews() {
  UIViewController::viewDidLayoutSubviews();
  auto collection = requiredCollectionView();
  UIView::performWithoutAnimation([&] {
    collection->reloadSections(NSIndexSet{0});
    collection->reloadSections(NSIndexSet{1});
  });
}

// --- Answering and on-screen scoring --------------------------------------------------------------

void SimpleQuestionViewController::didSelectItemAtIndexPath(UICollectionView& collectionView,
                                                            const NSIndexPath& indexPath) {
  // The answers' own flags are the choice; the collection's selection would only mislead.
  collectionView.deselectItemAtIndexPath(indexPath, false);
  if (evaluate_ || indexPath.section != 1) return;
  const auto& answers = quizQuestion_->answer();
  switch (quizQuestion_->type()) {
    case QuizQuestionType::getWord: collectionView.endEditing(true); break;
    case QuizQuestionType::moreCorrect: {
      const auto& tapped = answers.at(static_cast<std::size_t>(indexPath.row));
      tapped->setSelected(!tapped->selected());
      collectionView.reloadItemsAtIndexPaths({indexPath});
      break;
    }
    case QuizQuestionType::trueFalse:
    case QuizQuestionType::oneCorrect: {
      const auto& tapped = answers.at(static_cast<std::size_t>(indexPath.row));
      auto chosen = std::find_if(answers.begin(), answers.end(), [](const auto& a) { return a->selected(); });
      // Told apart by identity: the true/false tile this screen adds has id 0, which a backend
      // answer may have as well.
      if (chosen == answers.end()) {
        tapped->setSelected(true);
      } else if (*chosen == tapped) {
        tapped->setSelected(!tapped->selected());
      } else {
        (*chosen)->setSelected(false);
        tapped->setSelected(true);
      }
      std::vector<NSIndexPath> rows;
      for (int row = 0; row < static_cast<int>(answers.size()); ++row) rows.push_back(NSIndexPath{1, row});
      collectionView.reloadItemsAtIndexPaths(rows);
      break;
    }
  }
  if (auto delegate = answerDelegate()) delegate->answerSelected(isAnswered());
}

void SimpleQuestionViewController::textFieldValueDidChange(UITextField& sender) {
  if (!sender.text() || !hasWordAnswers()) return;
  const std::string typed = *sender.text();
  const auto& answers = quizQuestion_->answer();
  // A get-word question with several backend answers still records a wrong word on answer[1],
  // which is then a backend answer and not the empty one this screen added.
  const auto& word = answers[0]->answerText();
  if (word && !word->empty() && isCanonicallyEquivalent(typed, *word)) {
    answers[0]->setSelected(true);
    answers[1]->setSelected(false);
  } else if (!typed.empty()) {
    // Without a word from the backend every entry is wrong.
    answers[0]->setSelected(false);
    answers[1]->setSelected(true);
  } else {
    answers[0]->setSelected(false);
    answers[1]->setSelected(false);
  }
  if (auto delegate = answerDelegate()) delegate->answerSelected(!typed.empty());
  answerText_ = typed;
}

bool SimpleQuestionViewController::isAnswered() {
  const auto& answers = quizQuestion_->answer();
  return std::any_of(answers.begin(), answers.end(), [](const auto& a) { return a->selected(); });
}

bool SimpleQuestionViewController::isCorrect() {
  const auto& answers = quizQuestion_->answer();
  auto key = std::find_if(answers.begin(), answers.end(), [](const auto& a) { return a->isCorrect(); });
  if (key != answers.end() && (*key)->answerText() && quizQuestion_->type() == QuizQuestionType::getWord &&
      (*key)->selected())
    return isCanonicallyEquivalent(answerText_, *(*key)->answerText());
  if (!isAnswered()) return false;
  return std::all_of(answers.begin(), answers.end(), [](const auto& a) { return a->selected() == a->isCorrect(); });
}

double SimpleQuestionViewController::getScore() {
  auto maxScore = static_cast<double>(quizQuestion_->maxScore());
  if (quizQuestion_->type() == QuizQuestionType::getWord && isCorrect()) return maxScore;
  const auto& answers = quizQuestion_->answer();
  auto hits =
      std::count_if(answers.begin(), answers.end(), [](const auto& a) { return a->selected() && a->isCorrect(); });
  if (hits < 1) return 0.0;
  auto correct = std::count_if(answers.begin(), answers.end(), [](const auto& a) { return a->isCorrect(); });
  return static_cast<double>(hits) / static_cast<double>(correct) * maxScore;
}

void SimpleQuestionViewController::evaluateAnswers() {
  evaluate_ = true;
  requiredCollectionView()->reloadData();
}

void SimpleQuestionViewController::resetAnswers() {
  evaluate_ = false;
  answerText_.clear();
  for (const auto& answer : quizQuestion_->answer()) answer->setSelected(false);
  requiredCollectionView()->reloadData();
}

// --- Layout and sizing -------------------------------------------------------------------------------

std::optional<CGSize> SimpleQuestionViewController::sizeForItemAtIndexPath(UICollectionView& collectionView,
                                                                           UICollectionViewLayout&,
                                                                           const NSIndexPath& indexPath) {
  const CGSize bounds = collectionView.bounds().size;
  if (indexPath.section == 0) {
    const CGFloat width = bounds.width - 60;
    if (auto cached = headerHeightCache_.find(width); cached != headerHeightCache_.end())
      return CGSize{width, cached->second};
    const CGFloat height = headerView_->preferredLayoutSizeFittingSize(CGSize{width, 60}).height;
    headerHeightCache_[width] = height;
    return CGSize{width, height};
  }
  if (quizQuestion_->type() == QuizQuestionType::getWord) {
    const CGFloat width = bounds.width - 60;
    if (auto question = headerHeightCache_.find(width); question != headerHeightCache_.end()) {
      const CGFloat rest = bounds.height - (question->second + 20);
      if (30 < rest) return CGSize{width, rest};
    }
    return CGSize{width, 80};
  }

  CGFloat width = 0;
  CGFloat measuringHeight = 39;
  if (isPad()) {
    width = (bounds.width - 80) * 0.5;
    measuringHeight = 61;
  } else {
    const CGSize screen = view()->bounds().size;
    width = screen.height < screen.width ? bounds.width - 180 : bounds.width - 60;
  }
  auto layout = flowLayout();
  auto& rows = cellHeightCache_[width];
  CGFloat& tallest = tallestCellHeight_[width];
  if (!rows.empty() && rows.size() == quizQuestion_->answer().size()) {
    layout->setItemSize(CGSize{width, tallest});
    return CGSize{width, tallest};
  }
  configureAnswerCell(*sizingAnswerCell_, indexPath);
  const CGSize measured = sizingAnswerCell_->preferredLayoutSizeFittingSize(CGSize{width, measuringHeight});
  CGFloat height = measured.height;
  if (rows.empty()) {
    layout->setItemSize(measured);
  } else if (tallest < measured.height) {
    layout->setItemSize(measured);
    layout->invalidateLayout();
  } else {
    height = tallest;
  }
  rows[indexPath.row] = height;
  tallest = height;
  return CGSize{measured.width, height};
}
