#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/console_driver.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_window.h"
#include "quiz/get_word_collection_view_cell.h"
#include "quiz/simple_question_view_controller.h"
#include "support/virtual_time.h"

// The container's side of a question screen: what the screen reported.
class AnswerProbe : public AnswerViewControllerDelegate {
 public:
  void answerSelected(bool selected) override { reports.push_back(selected); }
  std::vector<bool> reports;
};

// One answer as the backend sends it: text (absent for none), whether it is correct, its id.
struct Answer {
  Answer(std::optional<std::string> t, bool c = false, std::optional<std::int64_t> i = std::nullopt)
      : text(std::move(t)), correct(c), id(i) {}
  std::optional<std::string> text;
  bool correct;
  std::optional<std::int64_t> id;
};

// The plain question screen, noting every item it fills.
class RecordingQuestion : public SimpleQuestionViewController {
 public:
  explicit RecordingQuestion(const NSCoder& coder) : SimpleQuestionViewController(coder) {}
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                               const NSIndexPath& indexPath) override {
    filled += std::to_string(indexPath.section) + "." + std::to_string(indexPath.row) + " ";
    return SimpleQuestionViewController::cellForItemAtIndexPath(collectionView, indexPath);
  }
  std::string filled;
};

// The "Main" storyboard's plain question screen in a window, driven through the console.
class QuestionTest : public testing::Test {
 protected:
  void SetUp() override {
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    registerMainStoryboard();
    registerViewControllerClass<RecordingQuestion>("SimpleQuestionViewController");
  }
  void TearDown() override {
    UIDevice::currentDevice()->rotate(UIDeviceOrientation::Portrait);
    driver.reset();
    window.reset();
    screen.reset();
    UIStoryboard::unregisterStoryboard("Main");
    UIScreen::resetMainScreen();
    UIDevice::resetCurrentDevice();
    Bundle::setMainResourcePath(std::nullopt);
  }

  static std::shared_ptr<QuizQuestion> question(const std::string& type, const std::vector<Answer>& answers,
                                                std::int64_t maxScore = 10) {
    QuizQuestionResponse record;
    record.id = 7;
    record.dataType = "text";
    record.type = type;
    record.text = "Which city is the capital?";
    record.maxScore = maxScore;
    record.answer.emplace();
    std::int64_t next = 100;
    for (const auto& a : answers) {
      QuizAnswerResponse r;
      r.id = a.id.value_or(next++);
      r.isCorrect = a.correct;
      r.answerText = a.text;
      record.answer->push_back(r);
    }
    return QuizQuestion::init(record);
  }

  // The screen on `q`, its view loaded but in no window.
  RecordingQuestion& load(std::shared_ptr<QuizQuestion> q) {
    auto vc = UIStoryboard::storyboardWithName("Main")->instantiateViewControllerWithIdentifier(
        "simpleQuestionViewController");
    screen = std::dynamic_pointer_cast<RecordingQuestion>(vc);
    screen->setQuizQuestion(std::move(q));
    screen->setAnswerDelegate(probe);
    screen->loadViewIfNeeded();
    return *screen;
  }
  // The same, on screen and laid out.
  RecordingQuestion& show(std::shared_ptr<QuizQuestion> q) {
    load(std::move(q));
    window = UIWindow::make();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    driver = std::make_unique<ConsoleDriver>(out, window);
    driver->setEchoCommands(false);
    run("show");
    return *screen;
  }
  std::string run(const std::string& command) {
    out.str("");
    driver->execute(command);
    return out.str();
  }
  // Which answers are chosen, as "0110".
  std::string chosen() const {
    std::string flags;
    for (const auto& a : screen->quizQuestion()->answer()) flags += a->selected() ? '1' : '0';
    return flags;
  }
  std::shared_ptr<UICollectionView> collection() const { return screen->collectionView(); }
  std::shared_ptr<UITextField> wordField() const {
    auto cell = std::dynamic_pointer_cast<GetWordCollectionViewCell>(collection()->cellForItemAtIndexPath({1, 0}));
    return cell ? cell->answerTextField.lock() : nullptr;
  }
  // Types `text` as one edit, as the keyboard's autocompletion would.
  void enter(const std::string& text) {
    auto field = wordField();
    field->setText(text);
    field->sendActionsForControlEvents(UIControlEvents::EditingChanged);
  }

  VirtualTime time;
  std::shared_ptr<AnswerProbe> probe = std::make_shared<AnswerProbe>();
  std::shared_ptr<RecordingQuestion> screen;
  std::shared_ptr<UIWindow> window;
  std::ostringstream out;
  std::unique_ptr<ConsoleDriver> driver;
};
