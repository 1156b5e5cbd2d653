#pragma once

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/console_driver.h"
#include "platform/ui/controller_test_support.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_window.h"
#include "quiz/get_word_collection_view_cell.h"
#include "quiz/simple_question_view_controller.h"

// `seconds` of silence as mono 16-bit PCM WAV at 8 kHz.
inline Data wav(std::uint32_t seconds) {
  auto le = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  const std::string format("WAVEfmt \x10\0\0\0\1\0\1\0\x40\x1f\0\0\x80\x3e\0\0\2\0\x10\0data", 32);
  return Data::fromString("RIFF" + le(36 + seconds * 16000) + format + le(seconds * 16000) +
                          std::string(seconds * 16000, '\0'));
}

struct AnswerProbe : AnswerViewControllerDelegate {
  void answerSelected(bool selected) override { reports.push_back(selected); }
  std::vector<bool> reports;
};

// One answer as the backend sends it; without an id it gets the next from 100.
struct Answer {
  std::optional<std::string> text = std::nullopt;
  bool correct = false;
  std::optional<std::int64_t> id = std::nullopt;
};

// The plain question screen, noting every item it fills.
struct RecordingQuestion : SimpleQuestionViewController {
  using SimpleQuestionViewController::SimpleQuestionViewController;
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                               const NSIndexPath& at) override {
    filled += std::to_string(at.section) + "." + std::to_string(at.row) + " ";
    return SimpleQuestionViewController::cellForItemAtIndexPath(collectionView, at);
  }
  std::string filled;
};

// The "Main" storyboard's plain question screen, driven through the console once in a window.
class QuestionTest : public ControllerTest {
 protected:
  void SetUp() override {
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    registerMainStoryboard();
    registerViewControllerClass<RecordingQuestion>("SimpleQuestionViewController");
  }
  void TearDown() override {
    UIStoryboard::unregisterStoryboard("Main");
    Bundle::setMainResourcePath(std::nullopt);
  }

  static std::shared_ptr<QuizQuestion> question(const std::string& type, const std::vector<Answer>& answers) {
    QuizQuestionResponse record;
    record.id = 7;
    record.dataType = "text";
    record.type = type;
    record.text = "Which city is the capital?";
    record.maxScore = 10;
    record.answer.emplace();
    for (const auto& a : answers) {
      auto& r = record.answer->emplace_back();
      r.answerText = a.text;
      r.isCorrect = a.correct;
      r.id = a.id.value_or(99 + record.answer->size());
    }
    return QuizQuestion::init(record);
  }
  // The screen on `q`, its view loaded but in no window.
  RecordingQuestion& load(std::shared_ptr<QuizQuestion> q) {
    screen = std::dynamic_pointer_cast<RecordingQuestion>(
        UIStoryboard::storyboardWithName("Main")->instantiateViewControllerWithIdentifier(
            "simpleQuestionViewController"));
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
    return std::dynamic_pointer_cast<GetWordCollectionViewCell>(collection()->cellForItemAtIndexPath({1, 0}))
        ->answerTextField.lock();
  }
  // Types `text` as one edit, as the keyboard's autocompletion would.
  void enter(const std::string& text) {
    wordField()->setText(text);
    wordField()->sendActionsForControlEvents(UIControlEvents::EditingChanged);
  }

  std::shared_ptr<AnswerProbe> probe = std::make_shared<AnswerProbe>();
  std::shared_ptr<RecordingQuestion> screen;
  std::shared_ptr<UIWindow> window;
  std::ostringstream out;
  std::unique_ptr<ConsoleDriver> driver;
};
