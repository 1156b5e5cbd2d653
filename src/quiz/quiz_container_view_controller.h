#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "model/quiz.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_scroll_view.h"
#include "platform/ui/ui_view_controller.h"
#include "quiz/question_view_controller.h"
#include "quiz/quiz_selector_button.h"
#include "quiz/simple_question_view_controller.h"

class LectureService;
class MainViewControllerFactory;

// A whole quiz: one question screen per page of a paging scroll view, a strip of numbered buttons
// above it, back and forward buttons, and an action that restarts or evaluates the quiz and saves
// the result. The opener sets the ids and colours, then pushes it.
class QuizContainerViewController : public UIViewController,
                                    public AnswerViewControllerDelegate,
                                    public UIScrollViewDelegate {
 public:
  static constexpr CGFloat kSeparatorLength = 18.0;
  static constexpr CGFloat kButtonSize = 33.0;
  static constexpr CGFloat kSelectedOffset = 4.0;
  static constexpr CGFloat kSelectorButtonSide = 41.0;
  static constexpr CGFloat kMargin = 43.0;

  QuizContainerViewController();
  explicit QuizContainerViewController(const NSCoder& coder);

  std::optional<std::int64_t> lectureId;
  std::optional<std::int64_t> curriculumId;
  std::optional<std::int64_t> quizId;
  std::optional<UIColor> lectureColor;
  std::optional<UIColor> lectureTextColor;

  std::weak_ptr<UIScrollView> quizSelectorScrollView;
  std::weak_ptr<UIScrollView> quizQuestionScrollView;
  std::weak_ptr<UIButton> goBackwardButton;
  std::weak_ptr<UIButton> goForwardButton;
  std::weak_ptr<NSLayoutConstraint> quizSelectorScrollViewLeadingConstraint;
  std::weak_ptr<NSLayoutConstraint> quizSelectorScrollViewTrailingConstraint;
  std::weak_ptr<UIBarButtonItem> evaluateButton;

  const std::shared_ptr<Quiz>& quiz() const { return quiz_; }
  int questionCount() const { return questionCount_; }
  const std::vector<std::shared_ptr<SimpleQuestionViewController>>& questionViewControllers() const {
    return questionViewControllers_;
  }
  const std::vector<std::shared_ptr<QuizSelectorButton>>& buttons() const { return buttons_; }
  const std::shared_ptr<UIView>& selectorSeparatorView() const { return selectorSeparatorView_; }
  bool evaluateMode() const { return evaluateMode_; }
  CGFloat separatorLength() const { return separatorLength_; }
  int previousPage() const { return previousPage_; }
  // The page shown, within the questions (0 without any).
  int currentPage() const;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void willRotateToInterfaceOrientation(UIInterfaceOrientation orientation, double duration) override;
  void didRotateFromInterfaceOrientation(UIInterfaceOrientation from) override;

  void showQuizLoaded(const std::shared_ptr<Quiz>& quiz);
  void showQuizResults(int questionCount, int missedCount, double ratio);
  void showQuizSaveError(const std::string& message);

  void selectorButtonTap(UIControl& sender);
  void backwardButtonTap(UIControl& sender);
  void forwardButtonTap(UIControl& sender);
  void quizEvaluateButtonTap(UIBarButtonItem& sender);
  void restartQuiz();
  void evaluateQuiz();

  void answerSelected(bool selected) override;
  void scrollViewDidEndDecelerating(UIScrollView& scrollView) override;
  void scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) override;

 private:
  std::shared_ptr<SimpleQuestionViewController> makeQuestionScreen(const QuizQuestion& question) const;
  void layOutPages();
  void setUpSelectorArea();
  void layOutButtons();
  void updateCurrentPage(int page);
  void slideStrip(int page, bool animated);
  void updatePageButtons(int page);
  void showPage(int page, bool animated);
  UIColor separatorColor() const;
  // Questions the strip marks wrong.
  int wrongOnScreen() const;
  QuizSelectorButton* button(int index) const;
  CGFloat availableWidth() const;
  CGFloat stripWidth() const;

  const std::shared_ptr<LectureService> lectureService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  std::shared_ptr<Quiz> quiz_;
  int questionCount_ = 0;
  std::vector<std::shared_ptr<SimpleQuestionViewController>> questionViewControllers_;
  std::vector<std::shared_ptr<UIView>> pages_;
  std::vector<std::shared_ptr<QuizSelectorButton>> buttons_;
  std::shared_ptr<UIView> selectorSeparatorView_;
  bool evaluateMode_ = false;
  bool saving_ = false;
  CGFloat separatorLength_ = kSeparatorLength;
  int previousPage_ = 0;
  int rotationPage_ = 0;
};

// The "Main" scene "quizContainerViewController".
void buildQuizContainerScene(class UIStoryboardSceneBuilder& b);
