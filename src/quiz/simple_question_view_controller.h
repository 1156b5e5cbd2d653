#pragma once

#include <map>
#include <memory>
#include <string>

#include "model/quiz_question.h"
#include "platform/foundation/notification_center.h"
#include "platform/ui/ui_collection_view.h"
#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_view_controller.h"
#include "quiz/answer_collection_view_cell.h"
#include "quiz/question_collection_view_header.h"
#include "quiz/question_view_controller.h"

// One quiz question: the question text in section 0 of a collection view and, in section 1, one
// tile per answer or, for a get-word question, one field for the word. The plain question screen
// and the base of the media question screens. The scene connects `collectionView` and makes the
// screen its data source and delegate.
class SimpleQuestionViewController : public UIViewController,
                                     public QuestionViewController,
                                     public UICollectionViewDataSource,
                                     public UICollectionViewDelegateFlowLayout {
 public:
  SimpleQuestionViewController() = default;
  explicit SimpleQuestionViewController(const NSCoder& coder) : UIViewController(coder) {}
  ~SimpleQuestionViewController() override;

  std::shared_ptr<UICollectionView> collectionView() const { return collectionView_.lock(); }
  void setCollectionView(std::weak_ptr<UICollectionView> view) { collectionView_ = std::move(view); }
  // Set before the view loads; its answers are normalised when it does.
  const std::shared_ptr<QuizQuestion>& quizQuestion() const { return quizQuestion_; }
  void setQuizQuestion(std::shared_ptr<QuizQuestion> question) { quizQuestion_ = std::move(question); }
  std::shared_ptr<AnswerViewControllerDelegate> answerDelegate() const { return answerDelegate_.lock(); }
  void setAnswerDelegate(std::weak_ptr<AnswerViewControllerDelegate> d) { answerDelegate_ = std::move(d); }
  bool evaluate() const { return evaluate_; }
  void setEvaluate(bool evaluate) { evaluate_ = evaluate; }
  const std::string& answerText() const { return answerText_; }
  void setAnswerText(std::string text) { answerText_ = std::move(text); }
  const std::shared_ptr<AnswerCollectionViewCell>& sizingAnswerCell() const { return sizingAnswerCell_; }
  const std::shared_ptr<QuestionCollectionViewHeader>& headerView() const { return headerView_; }
  // Tile width -> row -> measured height; question-cell width -> measured height. Never pruned.
  const std::map<CGFloat, std::map<int, CGFloat>>& cellHeightCache() const { return cellHeightCache_; }
  const std::map<CGFloat, CGFloat>& headerHeightCache() const { return headerHeightCache_; }

  void viewDidLoad() override;
  void touchesBegan(const std::vector<UITouch>& touches, const UIEvent* event) override;
  void orientationDidChange();
  void viewWillTransitionToSize(CGSize size, const UIViewControllerTransitionCoordinator& coordinator) override;
  void viewDidLayoutSubviews() override;
  void textFieldValueDidChange(UITextField& sender);

  bool isAnswered() override;
  void resetAnswers() override;
  bool isCorrect() override;
  double getScore() override;
  void evaluateAnswers() override;

  int numberOfSectionsInCollectionView(UICollectionView&) override { return 2; }
  int numberOfItemsInSection(UICollectionView& collectionView, int section) override;
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                               const NSIndexPath& indexPath) override;
  void didSelectItemAtIndexPath(UICollectionView& collectionView, const NSIndexPath& indexPath) override;
  std::optional<CGSize> sizeForItemAtIndexPath(UICollectionView& collectionView, UICollectionViewLayout& layout,
                                               const NSIndexPath& indexPath) override;

  void configureAnswerCell(AnswerCollectionViewCell& cell, const NSIndexPath& indexPath);

 private:
  void normaliseAnswers();
  std::shared_ptr<UICollectionView> requiredCollectionView() const;
  std::shared_ptr<UICollectionViewFlowLayout> flowLayout() const;
  // A get-word question without answers has no field and cannot be answered.
  bool hasWordAnswers() const;
  void reportAnswer();

  std::weak_ptr<UICollectionView> collectionView_;
  std::shared_ptr<QuizQuestion> quizQuestion_;
  std::weak_ptr<AnswerViewControllerDelegate> answerDelegate_;
  bool evaluate_ = false;
  std::string answerText_;
  std::shared_ptr<AnswerCollectionViewCell> sizingAnswerCell_;
  std::shared_ptr<QuestionCollectionViewHeader> headerView_;
  std::map<CGFloat, std::map<int, CGFloat>> cellHeightCache_;
  // The largest height stored under each tile width: stored heights never fall, so it is kept as
  // rows are stored instead of found by a scan per item.
  std::map<CGFloat, CGFloat> tallestCellHeight_;
  std::map<CGFloat, CGFloat> headerHeightCache_;
  NotificationCenter::ObserverToken orientationObserver_ = 0;
};
