#include <cmath>
#include <tuple>

#include <fmt/format.h>

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/console_driver.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_window.h"
#include "question_fixture.h"
#include "quiz/audio_question_view_controller.h"
#include "quiz/quiz_container_view_controller.h"
#include "quiz/quiz_selector_button.h"
#include "services/backend_fixture.h"
#include "services/holding_backend_api.h"
#include "services/lecture_service.h"

namespace {

// A true/false question on `material` (`data` its source); its statement is true.
std::string question(int id, const std::string& material, const std::string& data = "<p>m</p>") {
  return fmt::format(R"({{"id":{},"type":"trueFalse","questionText":"q{}","questionDataType":"{}",{}"maxScore":10,)"
                     R"("questionAnswer":[{{"id":{},"isCorrect":true}}]}})",
                     id, id, material, material == "text" && id % 2 ? "" : R"("questionData":")" + data + "\",",
                     id * 10);
}

// The screen factory, counting the question screens it makes.
struct CountingFactory : MainViewControllerFactory {
  std::shared_ptr<UIViewController> getSimpleQuestionViewController() const override {
    return ++questionScreens, MainViewControllerFactory::getSimpleQuestionViewController();
  }
  std::shared_ptr<UIViewController> getImageQuestionViewController() const override {
    return ++questionScreens, MainViewControllerFactory::getImageQuestionViewController();
  }
  std::shared_ptr<UIViewController> getVideoQuestionViewController() const override {
    return ++questionScreens, MainViewControllerFactory::getVideoQuestionViewController();
  }
  std::shared_ptr<UIViewController> getAudioQuestionViewController() const override {
    return ++questionScreens, MainViewControllerFactory::getAudioQuestionViewController();
  }
  std::shared_ptr<UIViewController> getTextQuestionViewController() const override {
    return ++questionScreens, MainViewControllerFactory::getTextQuestionViewController();
  }
  mutable int questionScreens = 0;
};

class QuizContainerTest : public BackendFixture {
 protected:
  void SetUp() override {
    BackendFixture::SetUp();
    signInBasic();
  }
  void registerStoryboards() override {
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    registerMainStoryboard();
    viewControllerFactory = factory = std::make_shared<CountingFactory>();
  }
  void TearDown() override {
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    UIScreen::resetMainScreen();
    driver.reset();
    window.reset();
    Bundle::setMainResourcePath(std::nullopt);
    BackendFixture::TearDown();
  }

  // Pushes the container for a quiz of `questions` (absent: no list) and waits for its load.
  void open(const std::optional<std::string>& questions, int status = 200, const char* body = nullptr) {
    push(questions, status, body);
    waitFor([&] { return !container->navigationItem()->title()->empty() || alert(); });
    time.runUntilIdle();
  }
  // Pushes the container and runs what is due, without waiting for the quiz.
  // `body` replaces the quiz reply.
  void push(const std::optional<std::string>& questions, int status = 200, const char* body = nullptr) {
    reply("Tablet/GetQuizes", status,
          body ? body
               : R"([{"id":9,"name":"Rivers","curriculumId":2,"quizLevel":{"id":3})" +
                     (questions ? R"(,"quizQuestion":[)" + *questions + "]" : std::string()) + "}]");
    container = MainViewControllerFactory::screenAs<QuizContainerViewController>(
        MainViewControllerFactory().getQuizContainerViewController());
    container->quizId = 9;
    container->lectureColor = lectureColor;
    container->lectureTextColor = lectureTextColor;
    auto navigation = std::make_shared<UINavigationController>(std::make_shared<UIViewController>());
    window = UIWindow::make();
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
    navigation->pushViewController(container, false);
    EXPECT_EQ(container->navigationItem()->title(), "");
    driver = std::make_unique<ConsoleDriver>(out, window);
    driver->setEchoCommands(false);
    time.runUntilIdle();
  }
  std::shared_ptr<UIAlertController> alert() const {
    return std::dynamic_pointer_cast<UIAlertController>(container->presentedViewController());
  }
  // The sheet's buttons; then taps `title` (Cancel when none).
  std::string sheet(const std::string& title = "") {
    run("tap Evaluate");
    std::string titles;
    for (const auto& a : alert()->actions()) titles += a->title().value_or("-") + ";";
    run("alert " + (title.empty() ? "Cancel" : title));
    return titles;
  }
  // The strip's buttons as the console shows them.
  std::string strip() {
    std::istringstream lines(run("show"));
    std::string shown;
    for (std::string line; std::getline(lines, line);)
      if (auto at = line.find(" #selectorButton"); at != std::string::npos) shown += line.substr(0, at) + "|";
    return shown;
  }
  std::string run(const std::string& command) {
    out.str("");
    driver->execute(command);
    time.runUntilIdle();
    return out.str();
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<QuizContainerViewController> container;
  std::optional<UIColor> lectureColor, lectureTextColor;
  std::shared_ptr<CountingFactory> factory;
  std::ostringstream out;
  std::unique_ptr<ConsoleDriver> driver;
};

TEST_F(QuizContainerTest, NoQuestionListGoesBackAnEmptyOneIsNotEvaluatedAndFailuresShowTheMessage) {
  // No question list, or no quiz at all (deleted meanwhile): the same alert, then back.
  for (const char* body : {static_cast<const char*>(nullptr), "[]"}) {
    open(std::nullopt, 200, body);
    EXPECT_EQ(alert()->title(), "This quiz has no questions.");
    run("alert OK");
    EXPECT_EQ(container->navigationController(), nullptr);
  }
  open("");
  EXPECT_EQ(sheet(), "Cancel;Start again;");
  open("", 500);
  EXPECT_EQ(alert()->title(), networkMessage());
  EXPECT_FALSE(ProgressIndicatorHelper::instance()->isShown());
}

TEST_F(QuizContainerTest, StripIsCentredWhenItFitsElseItsGapsShrinkToWholeButtons) {
  struct Case {
    CGFloat screenWidth;
    int questions;
    CGFloat margin, gap, content;
  };
  // Available: the screen less two margins of 43; at least one button fits however narrow.
  const Case cases[] = {{320, 3, 88.5, 18, 143}, {320, 5, 43, 24.5, 271}, {100, 3, 43, -23, 61}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.screenWidth);
    UIScreen::mainScreen()->setBounds(CGRectMake(0, 0, c.screenWidth, 480));
    std::string list;
    for (int i = 1; i <= c.questions; ++i) list += (i > 1 ? "," : "") + question(i, "text");
    open(list);
    EXPECT_EQ(container->quizSelectorScrollViewLeadingConstraint.lock()->constant(), c.margin);
    EXPECT_EQ(container->separatorLength(), c.gap);
    EXPECT_EQ(container->quizSelectorScrollView.lock()->contentSize().width, c.content);
    // The last page slides the strip so that its button shows, when the strip is wider than the view.
    container->quizQuestionScrollView.lock()->swipeToPage(c.questions - 1);
    time.runUntilIdle();
    EXPECT_EQ(container->quizSelectorScrollView.lock()->contentOffset().x,
              c.margin > 43 ? 0 : c.content - (c.screenWidth - 86));
  }
}

TEST_F(QuizContainerTest, OneQuestionHasNoStripButIsAnsweredAndEvaluated) {
  open(question(1, "text"));
  EXPECT_EQ(run("show").find("#goBackwardButton"), std::string::npos);
  container->questionViewControllers()[0]->collectionView()->tapItemAtIndexPath({1, 0});
  reply("Tablet/SaveQuizResults", 200, "{}");
  sheet("Evaluate");
  EXPECT_EQ(alert()->message(), "Score: 100.00%\nQuestions: 1\nMissed: 0");
  // Maximum scores adding up to nothing give no ratio.
  run("alert Show answers");
  container->showQuizResults(1, 1, std::nan(""));
  EXPECT_EQ(alert()->message(), "Score: 0.00%\nQuestions: 1\nMissed: 1");
}

TEST_F(QuizContainerTest, WholeQuizPagesAnswersAndSavesOneResult) {
  open(question(1, "image") + "," + question(2, "text") + "," + question(3, "text") + "," + question(4, "sound") + "," +
       question(5, "video"));
  const auto& screens = container->questionViewControllers();
  std::string kinds;
  for (const auto& s : screens) kinds += demangledClassName(typeid(*s)) + " ";
  EXPECT_EQ(kinds,
            "ImageQuestionViewController TextQuestionViewController SimpleQuestionViewController "
            "AudioQuestionViewController VideoQuestionViewController ");
  EXPECT_FALSE(alert());
  EXPECT_EQ(strip(), "[1] current|[2]|[3]|[4]|[5]|");

  // Page by page: the marker follows and the answer marks the page's button. True is right, false wrong.
  for (int page = 0; page < 5; ++page) {
    if (page > 0) run("page quizQuestionScrollView " + std::to_string(page));
    // The audio question's material is no sound, which its screen reports on its page.
    ASSERT_EQ(alert() ? alert()->title() : std::nullopt,
              page == 3 ? std::optional(NSLocalizedString("audioquestion_audio_load_error")) : std::nullopt);
    if (page == 3) run("alert OK");
    EXPECT_NE(run("select 1 " + std::to_string(page % 2)).find(fmt::format("(page {}/5)", page + 1)),
              std::string::npos);
  }
  EXPECT_EQ(strip(), "[1] answered|[2] answered|[3] answered|[4] answered|[5] current answered|");
  EXPECT_FALSE(container->goForwardButton.lock()->isEnabled());
  run("tap selectorButton2");
  EXPECT_EQ(strip(), "[1] answered|[2] current answered|[3] answered|[4] answered|[5] answered|");

  // A failed save changes nothing; the sheet offers evaluation again.
  reply("Tablet/SaveQuizResults", 500, "{}");
  EXPECT_EQ(sheet("Evaluate"), "Cancel;Start again;Evaluate;");
  EXPECT_EQ(alert()->title(), networkMessage());
  run("alert OK");
  EXPECT_FALSE(container->evaluateMode());

  server.clearRequests();
  reply("Tablet/SaveQuizResults", 200, "{}");
  // While saving, a second evaluation is ignored and the sheet offers neither evaluation nor restart.
  container->evaluateQuiz();
  container->evaluateQuiz();
  container->quizEvaluateButtonTap(*container->evaluateButton.lock());
  ASSERT_EQ(alert()->actions().size(), 1u);
  alert()->tapActionWithTitle("Cancel");
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alert()->message(), "Score: 60.00%\nQuestions: 5\nMissed: 2");
  run("alert Show answers");
  EXPECT_EQ(strip(), "[1] current correct|[2] wrong|[3] correct|[4] wrong|[5] correct|");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(lastBody()[0]["questionsId"], "1;2;3;4;5");

  EXPECT_EQ(sheet("Start again"), "Cancel;Start again;");
  EXPECT_EQ(strip(), "[1] current|[2]|[3]|[4]|[5]|");
  for (const auto& s : screens) EXPECT_FALSE(s->isAnswered());
}

TEST_F(QuizContainerTest, SelectorButtonsShowEveryLookByTintInTheLectureColours) {
  lectureColor = colorWithHexRGBString("3f51b5");
  lectureTextColor = colorWithHexRGBString("fafafa");
  open(question(1, "text") + "," + question(2, "text"));
  auto button = [&](int n) {
    return std::dynamic_pointer_cast<QuizSelectorButton>(
        container->view()->viewWithAccessibilityIdentifier("selectorButton" + std::to_string(n)));
  };
  ASSERT_TRUE(button(1) && button(2));
  // Body, marker, number, and whether the marker shows.
  auto look = [&](int n) {
    auto b = button(n);
    return std::tuple(b->middleImageView.lock()->tintColor(), b->currentImageView.lock()->tintColor(),
                      b->numberLabel.lock()->textColor(), !b->currentImageView.lock()->isHidden());
  };
  const UIColor grey = colorWithHexRGBString("d1d3d4"), marker = darkerColor(*lectureColor, 0.15);
  const UIColor white = UIColor::whiteColor(), black = UIColor::blackColor();
  using Look = decltype(look(1));
  EXPECT_EQ(look(1), Look(grey, marker, black, true));
  EXPECT_EQ(look(2), Look(grey, marker, black, false));
  run("select 1 0");
  EXPECT_EQ(look(1), Look(*lectureColor, marker, *lectureTextColor, true));

  reply("Tablet/SaveQuizResults", 200, "{}");
  sheet("Evaluate");
  waitFor([&] { return alert() != nullptr; });
  run("alert Show answers");
  // Evaluated: green or red bodies, the marker grey again.
  EXPECT_EQ(look(1), Look(colorWithHexRGBString("00a651"), grey, white, true));
  EXPECT_EQ(look(2), Look(colorWithHexRGBString("ed1c24"), grey, white, false));
  // Starting again gives the marker its own tint back.
  sheet("Start again");
  EXPECT_EQ(look(1), Look(grey, marker, black, true));

  // Without the lecture's colours the nib's own: answered is a grey body with a white number.
  auto plain = QuizSelectorButton::fromNib();
  plain->setUp(false);
  plain->setSelectedLook();
  EXPECT_EQ(std::tuple(plain->middleImageView.lock()->tintColor(), plain->numberLabel.lock()->textColor(),
                       plain->currentImageView.lock()->tintColor(), plain->currentImageView.lock()->isHidden()),
            std::tuple(grey, white, grey, true));
}

TEST_F(QuizContainerTest, TheLoadShowsTheIndicatorAtOnceASaveOnlyWhenItTakesHalfASecond) {
  auto holding = std::make_shared<HoldingBackendApi>(locator().backendApi()->backendUrl());
  holding->setTransferCoordinator(locator().transferCoordinator());
  locator().lectureService()->setBackendApi(holding);
  const auto& indicator = ProgressIndicatorHelper::instance();
  push(question(1, "text") + "," + question(3, "text"));
  EXPECT_TRUE(indicator->isShown());
  holding->release(0);
  waitFor([&] { return !container->navigationItem()->title()->empty(); });
  EXPECT_FALSE(indicator->isShown());
  // One screen per question from the locator's factory, also for two of the same material.
  const auto& screens = container->questionViewControllers();
  ASSERT_EQ(std::tuple(screens.size(), factory->questionScreens), std::tuple(2u, 2));
  EXPECT_NE(screens[0], screens[1]);
  EXPECT_EQ(demangledClassName(typeid(*screens[1])), "SimpleQuestionViewController");

  reply("Tablet/SaveQuizResults", 200, "{}");
  for (const TimeInterval wait : {0.4, 0.5}) {
    SCOPED_TRACE(wait);
    container->restartQuiz();
    container->evaluateQuiz();
    time.advance(wait);
    EXPECT_EQ(indicator->isShown(), wait >= 0.5);
    holding->release(0);
    waitFor([&] { return alert() != nullptr; });
    EXPECT_FALSE(indicator->isShown());
    time.advance(1);
    EXPECT_FALSE(indicator->isShown()) << "a show still pending after the answer";
    run("alert Show answers");
  }
}

TEST_F(QuizContainerTest, RotationKeepsThePageAndRefitsTheStripATabletAnchorsTheSheet) {
  UIScreen::mainScreen()->setBounds(CGRectMake(0, 0, 320, 480));
  std::string list;
  for (int i = 1; i <= 5; ++i) list += (i > 1 ? "," : "") + question(i, "text");
  open(list);
  run("page quizQuestionScrollView 3");
  auto pages = container->quizQuestionScrollView.lock();
  auto leading = container->quizSelectorScrollViewLeadingConstraint.lock();
  // Landscape fits the whole strip: centred, gaps back at 18; portrait squeezes them again.
  for (const auto& [orientation, width, margin, gap] : std::vector<std::tuple<std::string, CGFloat, CGFloat, CGFloat>>{
           {"landscape", 480, 117.5, 18}, {"portrait", 320, 43, 24.5}}) {
    SCOPED_TRACE(orientation);
    run("rotate " + orientation);
    EXPECT_EQ(std::tuple(pages->bounds().size.width, pages->contentSize().width, pages->contentOffset().x),
              std::tuple(width, 5 * width, 3 * width));
    EXPECT_EQ(std::tuple(leading->constant(), container->separatorLength()), std::tuple(margin, gap));
    EXPECT_EQ(strip(), "[1]|[2]|[3]|[4] current|[5]|");
  }
  UIDevice::currentDevice()->setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
  container->quizEvaluateButtonTap(*container->evaluateButton.lock());
  UIDevice::currentDevice()->setUserInterfaceIdiom(UIUserInterfaceIdiom::Phone);
  ASSERT_NE(alert()->popoverPresentationController(), nullptr);
  EXPECT_EQ(alert()->popoverPresentationController()->barButtonItem(), container->evaluateButton.lock());
}

TEST_F(QuizContainerTest, TheEndAlertCountsAsMissedWhatTheStripMarksWrong) {
  // All three right answers and a wrong one chosen: half the points are saved, but the question
  // is not answered right.
  open(R"({"id":1,"type":"moreCorrect","questionText":"q","questionDataType":"text","maxScore":10,)"
       R"("questionAnswer":[{"id":1,"answerText":"a","isCorrect":true},{"id":2,"answerText":"b","isCorrect":true},)"
       R"({"id":3,"answerText":"c","isCorrect":true},{"id":4,"answerText":"d","isCorrect":false}]})");
  for (int item = 0; item < 4; ++item)
    container->questionViewControllers()[0]->collectionView()->tapItemAtIndexPath({1, item});
  reply("Tablet/SaveQuizResults", 200, "{}");
  sheet("Evaluate");
  EXPECT_EQ(alert()->message(), "Score: 66.67%\nQuestions: 1\nMissed: 1");
  EXPECT_EQ(lastBody()[0]["score"], 20.0 / 3);
}

TEST_F(QuizContainerTest, EachSoundThatCannotBeHadIsReportedOnceOnItsOwnPage) {
  server.reply("GET", "/sounds/gone.wav", {.status = 404});
  server.reply("GET", "/sounds/noise.wav", {.body = "no sound"});
  open(question(1, "text") + "," + question(2, "sound", server.url("sounds/gone.wav")) + "," + question(3, "text") +
       "," + question(4, "sound", server.url("sounds/noise.wav")));
  run("show");  // both sounds have failed by now
  const std::optional<std::string> loadError = NSLocalizedString("audioquestion_audio_load_error");
  const std::pair<int, std::optional<std::string>> visits[] = {{0, std::nullopt}, {1, loadError},    {2, std::nullopt},
                                                               {3, loadError},    {1, std::nullopt}, {3, std::nullopt}};
  for (const auto& [page, shows] : visits) {
    if (page > 0) run("page quizQuestionScrollView " + std::to_string(page));
    EXPECT_EQ(alert() ? alert()->title() : std::nullopt, shows) << page;
    if (shows) run("alert OK");
  }
  EXPECT_TRUE(UIViewController::presentationRefusals().empty());
}

TEST_F(QuizContainerTest, ASlowSoundHoldsNeitherTheQuizNorTheOtherSounds) {
  server.reply("GET", "/sounds/slow.wav", {.body = "late", .delay = 60});
  server.reply("GET", "/sounds/quick.wav", {.body = wav(1).toString()});
  open(question(1, "sound", server.url("sounds/slow.wav")) + "," + question(2, "text") + "," +
       question(3, "sound", server.url("sounds/quick.wav")));
  // Commands run while the slow sound is on its way.
  driver->setSettle([this] {
    time.runUntilIdle();
    window->layoutOnScreenIfNeeded();
  });
  auto slow = std::dynamic_pointer_cast<AudioQuestionViewController>(container->questionViewControllers()[0]);
  auto quick = std::dynamic_pointer_cast<AudioQuestionViewController>(container->questionViewControllers()[2]);
  EXPECT_NE(run("tap playButton").find("[Play] #playButton\n<slider 0%> #progressSlider\n--:--"), std::string::npos);
  EXPECT_FALSE(slow->player());
  run("page quizQuestionScrollView 1");
  run("select 1 0");
  EXPECT_EQ(strip(), "[1]|[2] current answered|[3]|");
  waitFor([&] { return quick->player() != nullptr; });
  run("page quizQuestionScrollView 2");
  EXPECT_NE(run("tap playButton").find("[Pause] #playButton (selected)\n<slider 0%> #progressSlider\n00:00"),
            std::string::npos);
  EXPECT_FALSE(slow->player());
  EXPECT_FALSE(alert());
}

}  // namespace
