#include "quiz/quiz_container_view_controller.h"

#include <algorithm>
#include <cmath>

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "app/required_outlet.h"
#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "model/color.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/localized_format.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_storyboard.h"
#include "quiz/quiz_support.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"

namespace {

std::shared_ptr<NSLayoutConstraint> pin(const std::shared_ptr<UIView>& item, NSLayoutAttribute attribute,
                                        const std::shared_ptr<UIView>& to, NSLayoutAttribute toAttribute,
                                        CGFloat constant = 0) {
  return NSLayoutConstraint::constraintWithItem(item, attribute, NSLayoutRelation::Equal, to, toAttribute, 1, constant);
}

std::shared_ptr<NSLayoutConstraint> fixed(const std::shared_ptr<UIView>& item, NSLayoutAttribute attribute,
                                          CGFloat constant) {
  return pin(item, attribute, nullptr, NSLayoutAttribute::NotAnAttribute, constant);
}

void popScreen(UIViewController& screen) {
  if (auto navigation = screen.navigationController()) navigation->popViewControllerAnimated(true);
}

}  // namespace

QuizContainerViewController::QuizContainerViewController()
    : lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

QuizContainerViewController::QuizContainerViewController(const NSCoder& coder)
    : UIViewController(coder),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

int QuizContainerViewController::currentPage() const {
  auto scroll = requiredOutlet(quizQuestionScrollView, "quizQuestionScrollView");
  if (!scroll || questionCount_ == 0) return 0;
  return std::clamp(scroll->currentPage(), 0, questionCount_ - 1);
}

QuizSelectorButton* QuizContainerViewController::button(int index) const {
  return index >= 0 && index < static_cast<int>(buttons_.size()) ? buttons_[static_cast<std::size_t>(index)].get()
                                                                 : nullptr;
}

void QuizContainerViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  view()->setBackgroundColor(UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad
                                 ? Color::background()
                                 : UIColor::whiteColor());
  navigationItem()->setTitle("");
  if (!quizId) fatalError("QuizContainerViewController needs its quizId");
  ProgressIndicatorHelper::instance()->showProgressIndicator(0.0);
  std::weak_ptr<QuizContainerViewController> weak = sharedAs<QuizContainerViewController>();
  lectureService_->getQuiz(
      *quizId,
      [weak](const std::shared_ptr<Quiz>& quiz) {
        if (auto self = weak.lock()) self->showQuizLoaded(quiz);
      },
      [weak](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        if (auto self = weak.lock()) showAlert(*self, message);
      });
}

void QuizContainerViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  analyticsScreenTracking(*this, "Quiz");
}

std::shared_ptr<SimpleQuestionViewController> QuizContainerViewController::makeQuestionScreen(
    const QuizQuestion& question) const {
  const auto& factory = *viewControllerFactory_;
  std::shared_ptr<UIViewController> screen;
  // The material decides the screen; the kind of question never does.
  switch (question.dataType()) {
    case QuizQuestionDataType::image: screen = factory.getImageQuestionViewController(); break;
    case QuizQuestionDataType::text:
      screen = question.data() ? factory.getTextQuestionViewController() : factory.getSimpleQuestionViewController();
      break;
    case QuizQuestionDataType::audio: screen = factory.getAudioQuestionViewController(); break;
    default: screen = factory.getVideoQuestionViewController(); break;
  }
  return MainViewControllerFactory::screenAs<SimpleQuestionViewController>(screen);
}

void QuizContainerViewController::showQuizLoaded(const std::shared_ptr<Quiz>& quiz) {
  quiz_ = quiz;
  if (quiz) navigationItem()->setTitle(quiz->name());
  // A quiz that is gone says so as one without questions does.
  if (!quiz || !quiz->questions()) {
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    std::weak_ptr<QuizContainerViewController> weak = sharedAs<QuizContainerViewController>();
    showAlert(*this, NSLocalizedString("quizcontainer_error_noquestions"), std::nullopt, [weak](UIAlertAction&) {
      if (auto self = weak.lock()) popScreen(*self);
    });
    return;
  }
  const auto& questions = *quiz->questions();
  questionCount_ = static_cast<int>(questions.size());
  auto scroll = requiredOutlet(quizQuestionScrollView, "quizQuestionScrollView");
  auto delegate = std::static_pointer_cast<AnswerViewControllerDelegate>(sharedAs<QuizContainerViewController>());
  for (std::size_t i = 0; i < questions.size(); ++i) {
    auto page = UIView::make();
    page->setTranslatesAutoresizingMaskIntoConstraints(false);
    page->setBackgroundColor(i % 2 == 0 ? UIColor::redColor() : UIColor::greenColor());
    scroll->addSubview(page);
    pages_.push_back(page);
    auto screen = makeQuestionScreen(*questions[i]);
    // The screen normalises its answers as its view loads.
    screen->setQuizQuestion(questions[i]);
    addChildViewController(screen);
    auto screenView = screen->view();
    screenView->setTranslatesAutoresizingMaskIntoConstraints(false);
    screenView->setFrame(CGRectMake(0, 0, scroll->bounds().size.width, scroll->bounds().size.height));
    page->addSubview(screenView);
    page->addConstraints(edgeConstraints(
        screenView, page,
        {NSLayoutAttribute::Top, NSLayoutAttribute::Leading, NSLayoutAttribute::Bottom, NSLayoutAttribute::Trailing}));
    screen->didMoveToParentViewController(sharedAs<UIViewController>());
    screen->setAnswerDelegate(delegate);
    questionViewControllers_.push_back(screen);
  }
  layOutPages();
  if (questionCount_ < 2) {
    if (auto back = goBackwardButton.lock()) back->setHidden(true);
    if (auto forward = goForwardButton.lock()) forward->setHidden(true);
  } else {
    if (auto back = goBackwardButton.lock()) back->setEnabled(false);
    selectorSeparatorView_ = UIView::make();
    selectorSeparatorView_->setBackgroundColor(separatorColor());
    requiredOutlet(quizSelectorScrollView, "quizSelectorScrollView")->addSubview(selectorSeparatorView_);
    for (int i = 0; i < questionCount_; ++i) {
      auto b = QuizSelectorButton::fromNib();
      b->setTag(i);
      b->setAccessibilityIdentifier("selectorButton" + std::to_string(i + 1));
      if (lectureColor && lectureTextColor) {
        b->selectedColor = *lectureColor;
        b->selectedTextColor = *lectureTextColor;
        b->currentColor = darkerColor(*lectureColor, 0.15);
      }
      requiredOutlet(b->numberLabel, "numberLabel")->setText(std::to_string(i + 1));
      b->setUp(i == 0);
      std::weak_ptr<QuizContainerViewController> weak = sharedAs<QuizContainerViewController>();
      b->addTarget(sharedAs<QuizContainerViewController>(), "selectorButtonTap:", UIControlEvents::TouchUpInside,
                   [weak](UIControl& sender, const UIEvent*) {
                     if (auto self = weak.lock()) self->selectorButtonTap(sender);
                   });
      requiredOutlet(quizSelectorScrollView, "quizSelectorScrollView")->addSubview(b);
      buttons_.push_back(b);
    }
    setUpSelectorArea();
    layOutButtons();
  }
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  if (!questionViewControllers_.empty()) questionViewControllers_.front()->pageDidBecomeCurrent();
}

void QuizContainerViewController::layOutPages() {
  auto scroll = requiredOutlet(quizQuestionScrollView, "quizQuestionScrollView");
  const CGSize size = scroll->bounds().size;
  scroll->setContentSize(CGSize{size.width * questionCount_, size.height});
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    pages_[i]->setFrame(CGRectMake(static_cast<CGFloat>(i) * size.width, 0, size.width, size.height));
    for (const auto& view : pages_[i]->subviews()) view->setFrame(pages_[i]->bounds());
  }
}

CGFloat QuizContainerViewController::availableWidth() const {
  auto leading = quizSelectorScrollViewLeadingConstraint.lock();
  return UIScreen::mainScreen()->bounds().size.width - 2 * (leading ? leading->constant() : 0);
}

CGFloat QuizContainerViewController::stripWidth() const {
  return kButtonSize + 2 * kSelectedOffset + (questionCount_ - 1) * (kButtonSize + separatorLength_);
}

void QuizContainerViewController::setUpSelectorArea() {
  const CGFloat available = availableWidth();
  if (stripWidth() < available) {
    const CGFloat margin = (view()->bounds().size.width - stripWidth()) / 2;
    requiredOutlet(quizSelectorScrollViewLeadingConstraint, "quizSelectorScrollViewLeadingConstraint")
        ->setConstant(margin);
    requiredOutlet(quizSelectorScrollViewTrailingConstraint, "quizSelectorScrollViewTrailingConstraint")
        ->setConstant(margin);
  } else {
    // At least one button per view, however narrow the screen.
    const CGFloat perView = std::max(1.0, std::floor(available / (kButtonSize + separatorLength_)));
    separatorLength_ = (available - kSelectedOffset) / perView - kButtonSize;
  }
  auto strip = requiredOutlet(quizSelectorScrollView, "quizSelectorScrollView");
  strip->setContentSize(CGSize{stripWidth(), kSelectorButtonSide});
  const CGFloat stripHeight = strip->bounds().size.height;
  selectorSeparatorView_->setFrame(
      CGRectMake(kSelectedOffset + 2, (stripHeight - 8) / 2, stripWidth() - 2 * (kSelectedOffset + 2), 8));
}

void QuizContainerViewController::layOutButtons() {
  const CGFloat stripHeight = requiredOutlet(quizSelectorScrollView, "quizSelectorScrollView")->bounds().size.height;
  for (std::size_t i = 0; i < buttons_.size(); ++i)
    buttons_[i]->setFrame(CGRectMake(static_cast<CGFloat>(i) * (kButtonSize + separatorLength_),
                                     (stripHeight - kSelectorButtonSide) / 2, kSelectorButtonSide,
                                     kSelectorButtonSide));
}

UIColor QuizContainerViewController::separatorColor() const {
  return lectureColor ? darkerColor(*lectureColor, 0.15) : quiz_colors::divider();
}

void QuizContainerViewController::showPage(int page, bool animated) {
  auto scroll = requiredOutlet(quizQuestionScrollView, "quizQuestionScrollView");
  const CGSize size = scroll->bounds().size;
  scroll->scrollRectToVisible(CGRectMake(page * size.width, 0, size.width, size.height), animated);
}

void QuizContainerViewController::selectorButtonTap(UIControl& sender) { showPage(sender.tag(), true); }
void QuizContainerViewController::backwardButtonTap(UIControl&) { showPage(currentPage() - 1, true); }
void QuizContainerViewController::forwardButtonTap(UIControl&) { showPage(currentPage() + 1, true); }

void QuizContainerViewController::scrollViewDidEndDecelerating(UIScrollView&) { updateCurrentPage(currentPage()); }
void QuizContainerViewController::scrollViewDidEndScrollingAnimation(UIScrollView&) {
  updateCurrentPage(currentPage());
}

void QuizContainerViewController::updateCurrentPage(int page) {
  if (page < 0 || page >= questionCount_) return;
  if (auto previous = button(previousPage_)) previous->unsetCurrent();
  if (auto current = button(page)) current->setCurrent();
  previousPage_ = page;
  if (availableWidth() < stripWidth()) slideStrip(page, true);
  updatePageButtons(page);
  questionViewControllers_[static_cast<std::size_t>(page)]->pageDidBecomeCurrent();
}

void QuizContainerViewController::slideStrip(int page, bool animated) {
  if (buttons_.empty()) return;
  const CGFloat step = kButtonSize + separatorLength_;
  const int perView = std::max(1, static_cast<int>(std::floor(availableWidth() / step)));
  const CGFloat offset = page + perView >= questionCount_
                             ? (questionCount_ - perView) * step - separatorLength_ + kSelectedOffset
                             : page * step;
  auto strip = requiredOutlet(quizSelectorScrollView, "quizSelectorScrollView");
  auto move = [strip, offset] { strip->setContentOffset(CGPoint{std::max(0.0, offset), 0}); };
  if (animated) UIView::animateWithDuration(0.25, move);
  else move();
}

void QuizContainerViewController::updatePageButtons(int page) {
  if (auto back = goBackwardButton.lock()) back->setEnabled(page > 0);
  if (auto forward = goForwardButton.lock()) forward->setEnabled(page < questionCount_ - 1);
}

void QuizContainerViewController::answerSelected(bool selected) {
  // The button of the page shown, when the strip has one.
  if (auto current = button(currentPage())) selected ? current->setSelectedLook() : current->unsetSelected();
}

void QuizContainerViewController::willRotateToInterfaceOrientation(UIInterfaceOrientation, double) {
  rotationPage_ = currentPage();
}

void QuizContainerViewController::didRotateFromInterfaceOrientation(UIInterfaceOrientation) {
  if (questionCount_ < 2) return;
  layOutPages();
  separatorLength_ = kSeparatorLength;
  requiredOutlet(quizSelectorScrollViewLeadingConstraint, "quizSelectorScrollViewLeadingConstraint")
      ->setConstant(kMargin);
  requiredOutlet(quizSelectorScrollViewTrailingConstraint, "quizSelectorScrollViewTrailingConstraint")
      ->setConstant(kMargin);
  setUpSelectorArea();
  layOutButtons();
  previousPage_ = rotationPage_;
  if (availableWidth() < stripWidth()) slideStrip(previousPage_, false);
  showPage(previousPage_, false);
}

void QuizContainerViewController::quizEvaluateButtonTap(UIBarButtonItem&) {
  auto sheet =
      UIAlertController::alertControllerWithTitle(std::nullopt, std::nullopt, UIAlertControllerStyle::ActionSheet);
  std::weak_ptr<QuizContainerViewController> weak = sharedAs<QuizContainerViewController>();
  sheet->addAction(UIAlertAction::actionWithTitle(NSLocalizedString("quizcontainer_actionsheet_cancel_title"),
                                                  UIAlertActionStyle::Cancel, nullptr));
  // While a result is being saved, neither restart nor a second evaluation is offered.
  if (!saving_) {
    sheet->addAction(UIAlertAction::actionWithTitle(NSLocalizedString("quizcontainer_actionsheet_restart_title"),
                                                    UIAlertActionStyle::Default, [weak](UIAlertAction&) {
                                                      if (auto self = weak.lock()) self->restartQuiz();
                                                    }));
    if (!evaluateMode_ && questionCount_ > 0)
      sheet->addAction(UIAlertAction::actionWithTitle(NSLocalizedString("quizcontainer_actionsheet_evaluate_title"),
                                                      UIAlertActionStyle::Default, [weak](UIAlertAction&) {
                                                        if (auto self = weak.lock()) self->evaluateQuiz();
                                                      }));
  }
  if (auto popover = sheet->popoverPresentationController()) popover->setBarButtonItem(evaluateButton.lock());
  presentViewController(sheet, true);
}

void QuizContainerViewController::restartQuiz() {
  if (selectorSeparatorView_) selectorSeparatorView_->setBackgroundColor(separatorColor());
  for (const auto& screen : questionViewControllers_) screen->resetAnswers();
  for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setUp(i == 0);
  evaluateMode_ = false;
  previousPage_ = 0;
  if (availableWidth() < stripWidth()) slideStrip(0, true);
  updatePageButtons(0);
  showPage(0, true);
}

void QuizContainerViewController::evaluateQuiz() {
  if (saving_ || evaluateMode_) return;
  saving_ = true;
  ProgressIndicatorHelper::instance()->showProgressIndicator(0.5);
  std::weak_ptr<QuizContainerViewController> weak = sharedAs<QuizContainerViewController>();
  lectureService_->saveQuizResults(
      quiz_,
      [weak](int questionCount, int, double ratio) {
        // The saved count differs from the strip where a question holds more than its right
        // answers or has none; the alert follows the strip, so the screen agrees with itself.
        if (auto self = weak.lock()) self->showQuizResults(questionCount, self->wrongOnScreen(), ratio);
      },
      [weak](const std::string& message) {
        if (auto self = weak.lock()) self->showQuizSaveError(message);
      });
}

int QuizContainerViewController::wrongOnScreen() const {
  return static_cast<int>(std::count_if(questionViewControllers_.begin(), questionViewControllers_.end(),
                                        [](const auto& screen) { return !screen->isCorrect(); }));
}

void QuizContainerViewController::showQuizResults(int questionCount, int missedCount, double ratio) {
  saving_ = false;
  evaluateMode_ = true;
  if (selectorSeparatorView_) selectorSeparatorView_->setBackgroundColor(quiz_colors::divider());
  for (std::size_t i = 0; i < questionViewControllers_.size(); ++i) {
    auto& screen = questionViewControllers_[i];
    screen->evaluateAnswers();
    if (auto b = button(static_cast<int>(i))) {
      screen->isCorrect() ? b->setCorrect() : b->setFalse();
      b->unsetCurrent();
    }
  }
  if (auto first = button(0)) first->setCurrent();
  previousPage_ = 0;
  if (availableWidth() < stripWidth()) slideStrip(0, true);
  updatePageButtons(0);
  showPage(0, true);
  // A quiz whose maximum scores add up to nothing has no ratio.
  const double percent = std::isfinite(ratio) ? ratio * 100 : 0.0;
  auto alert = UIAlertController::alertControllerWithTitle(
      NSLocalizedString("quizcontainer_quizend_alert_title"),
      localizedStringWithFormat(
          NSLocalizedString("quizcontainer_quizend_alert_message"),
          {formatDecimal(".2", percent), std::to_string(questionCount), std::to_string(missedCount)}),
      UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle(NSLocalizedString("quizcontainer_quizend_alert_show_title"),
                                                  UIAlertActionStyle::Default, nullptr));
  std::weak_ptr<QuizContainerViewController> weak = sharedAs<QuizContainerViewController>();
  alert->addAction(UIAlertAction::actionWithTitle(NSLocalizedString("quizcontainer_quizend_alert_end_title"),
                                                  UIAlertActionStyle::Default, [weak](UIAlertAction&) {
                                                    if (auto self = weak.lock()) popScreen(*self);
                                                  }));
  presentViewController(alert, true);
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
}

void QuizContainerViewController::showQuizSaveError(const std::string& message) {
  saving_ = false;
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  showAlert(*this, message);
}

void buildQuizContainerScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<QuizContainerViewController>();
  auto root = b.view();
  const CGFloat width = root->bounds().size.width;
  const CGFloat height = root->bounds().size.height;
  constexpr CGFloat kStripHeight = 49;
  auto back = b.add<UIButton>(root, "goBackwardButton", CGRectMake(0, 4, 41, 41));
  back->setTitle("<", UIControlState::Normal);
  b.action<QuizContainerViewController>(back, "backwardButtonTap:", UIControlEvents::TouchUpInside,
                                        [](QuizContainerViewController& c, UIControl& s) { c.backwardButtonTap(s); });
  vc.goBackwardButton = back;
  auto forward = b.add<UIButton>(root, "goForwardButton", CGRectMake(width - 41, 4, 41, 41));
  forward->setTitle(">", UIControlState::Normal);
  b.action<QuizContainerViewController>(forward, "forwardButtonTap:", UIControlEvents::TouchUpInside,
                                        [](QuizContainerViewController& c, UIControl& s) { c.forwardButtonTap(s); });
  vc.goForwardButton = forward;
  constexpr CGFloat kMargin = QuizContainerViewController::kMargin;
  auto strip =
      b.add<UIScrollView>(root, "quizSelectorScrollView", CGRectMake(kMargin, 0, width - 2 * kMargin, kStripHeight));
  strip->setShowsHorizontalScrollIndicator(false);
  vc.quizSelectorScrollView = strip;
  auto leading = pin(strip, NSLayoutAttribute::Leading, root, NSLayoutAttribute::Leading, kMargin);
  auto trailing = pin(root, NSLayoutAttribute::Trailing, strip, NSLayoutAttribute::Trailing, kMargin);
  NSLayoutConstraint::activateConstraints({leading, trailing, fixed(strip, NSLayoutAttribute::Height, kStripHeight)});
  vc.quizSelectorScrollViewLeadingConstraint = leading;
  vc.quizSelectorScrollViewTrailingConstraint = trailing;
  auto questions =
      b.add<UIScrollView>(root, "quizQuestionScrollView", CGRectMake(0, kStripHeight, width, height - kStripHeight));
  // Follows the screen when it rotates.
  NSLayoutConstraint::activateConstraints(
      {pin(questions, NSLayoutAttribute::Top, root, NSLayoutAttribute::Top, kStripHeight),
       pin(questions, NSLayoutAttribute::Leading, root, NSLayoutAttribute::Leading),
       pin(root, NSLayoutAttribute::Trailing, questions, NSLayoutAttribute::Trailing),
       pin(root, NSLayoutAttribute::Bottom, questions, NSLayoutAttribute::Bottom)});
  questions->setPagingEnabled(true);
  questions->setShowsHorizontalScrollIndicator(false);
  questions->setDelegate(std::static_pointer_cast<UIScrollViewDelegate>(vc.sharedAs<QuizContainerViewController>()));
  vc.quizQuestionScrollView = questions;
  auto evaluate =
      std::make_shared<UIBarButtonItem>(std::optional<std::string>("Evaluate"), UIBarButtonItemStyle::Plain);
  evaluate->setAccessibilityIdentifier("evaluateButton");
  b.action<QuizContainerViewController>(
      evaluate, "quizEvaluateButtonTap:", [](QuizContainerViewController& c, UIBarButtonItem& sender) {
        c.quizEvaluateButtonTap(sender);
      });
  vc.navigationItem()->setRightBarButtonItem(evaluate);
  vc.evaluateButton = evaluate;
}
