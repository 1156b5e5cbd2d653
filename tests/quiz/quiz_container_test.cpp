#include <fmt/format.h>

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_window.h"
#include "quiz/quiz_container_view_controller.h"
#include "services/backend_fixture.h"

namespace {

// A true/false question on `material`; its statement is true.
std::string question(int id, const std::string& material) {
  return fmt::format(R"({{"id":{},"type":"trueFalse","questionText":"q{}","questionDataType":"{}",{}"maxScore":10,)"
                     R"("questionAnswer":[{{"id":{},"isCorrect":true}}]}})",
                     id, id, material, material == "text" && id % 2 ? "" : R"("questionData":"<p>m</p>",)", id * 10);
}

std::string quizBody(const std::optional<std::string>& questions) {
  return R"([{"id":9,"name":"Rivers","curriculumId":2,"quizLevel":{"id":3})" +
         (questions ? R"(,"quizQuestion":[)" + *questions + "]" : std::string()) + "}]";
}

class QuizContainerTest : public BackendFixture {
 protected:
  void SetUp() override {
    BackendFixture::SetUp();
    signInBasic();
    UIStoryboard::unregisterStoryboard("Main");
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    registerMainStoryboard();
  }
  void TearDown() override {
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    window.reset();
    Bundle::setMainResourcePath(std::nullopt);
    BackendFixture::TearDown();
  }

  // Pushes the container for a quiz of `questions` (absent: no list) and waits for its load.
  void open(const std::optional<std::string>& questions) {
    reply("Tablet/GetQuizes", 200, quizBody(questions));
    container = MainViewControllerFactory::screenAs<QuizContainerViewController>(
        MainViewControllerFactory().getQuizContainerViewController());
    container->quizId = 9;
    container->lectureColor = UIColor::blueColor();
    container->lectureTextColor = UIColor::whiteColor();
    auto navigation = std::make_shared<UINavigationController>(std::make_shared<UIViewController>());
    window = UIWindow::make();
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
    navigation->pushViewController(container, false);
    time.runUntilIdle();
    EXPECT_EQ(container->navigationItem()->title(), "");
    waitFor([&] { return server.requestCount() > 0 && !container->navigationItem()->title()->empty(); });
    time.runUntilIdle();
  }
  std::shared_ptr<UIAlertController> alert() const {
    return std::dynamic_pointer_cast<UIAlertController>(container->presentedViewController());
  }
  // The sheet's buttons, tapping `title` when given.
  std::string sheet(const std::string& title = "") {
    container->quizEvaluateButtonTap(*container->evaluateButton.lock());
    time.runUntilIdle();
    std::string titles;
    for (const auto& a : alert()->actions()) titles += a->title().value_or("-") + ";";
    alert()->tapActionWithTitle(title.empty() ? "Cancel" : title);
    time.runUntilIdle();
    return titles;
  }
  // Each button as marker (M/-) and body colour.
  std::string strip() const {
    std::string looks;
    for (const auto& b : container->buttons())
      looks += std::string(b->currentImageView.lock()->isHidden() ? "-" : "M") +
               (b->middleImageView.lock()->tintColor() == b->correctColor    ? "c"
                : b->middleImageView.lock()->tintColor() == b->falseColor    ? "f"
                : b->middleImageView.lock()->tintColor() == b->selectedColor ? "s"
                                                                             : ".") +
               " ";
    return looks;
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<QuizContainerViewController> container;
};

TEST_F(QuizContainerTest, QuizWithoutQuestionListWarnsAndGoesBack) {
  open(std::nullopt);
  EXPECT_EQ(container->navigationItem()->title(), "Rivers");
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->title(), "This quiz has no questions.");
  alert()->tapActionWithTitle("OK");
  time.runUntilIdle();
  EXPECT_EQ(container->navigationController(), nullptr);
  EXPECT_FALSE(ProgressIndicatorHelper::instance()->isShown());
}

TEST_F(QuizContainerTest, OneQuestionHasNoStripButIsAnsweredAndEvaluated) {
  open(question(1, "text"));
  EXPECT_TRUE(container->goBackwardButton.lock()->isHidden());
  EXPECT_TRUE(container->buttons().empty());
  container->questionViewControllers()[0]->collectionView()->tapItemAtIndexPath({1, 0});
  reply("Tablet/SaveQuizResults", 200, "{}");
  sheet("Evaluate");
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alert()->message(), "Score: 100.00%\nQuestions: 1\nMissed: 0");
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
  EXPECT_EQ(strip(), "M. -. -. -. -. ");
  EXPECT_FALSE(container->goBackwardButton.lock()->isEnabled());

  // Page by page: the marker follows and the answer marks the page's button.
  for (int page = 0; page < 5; ++page) {
    if (page > 0) {
      container->forwardButtonTap(*container->goForwardButton.lock());
      time.runUntilIdle();
    }
    EXPECT_EQ(container->previousPage(), page);
    // True on even pages (right), false on odd ones (wrong).
    screens[static_cast<std::size_t>(page)]->collectionView()->tapItemAtIndexPath({1, page % 2});
  }
  EXPECT_EQ(strip(), "-s -s -s -s Ms ");
  EXPECT_FALSE(container->goForwardButton.lock()->isEnabled());
  container->selectorButtonTap(*container->buttons()[1]);
  time.runUntilIdle();
  EXPECT_EQ(strip(), "-s Ms -s -s -s ");

  // The audio question's material is no sound, which its screen reports.
  ASSERT_EQ(alert()->title(), "The sound could not be loaded.");
  alert()->tapActionAtIndex(0);
  time.runUntilIdle();

  // A failed save changes nothing; the sheet offers evaluation again.
  reply("Tablet/SaveQuizResults", 500, "{}");
  EXPECT_EQ(sheet("Evaluate"), "Cancel;Start again;Evaluate;");
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alert()->title(), networkMessage());
  alert()->tapActionWithTitle("OK");
  time.runUntilIdle();
  EXPECT_EQ(alert(), nullptr);
  EXPECT_FALSE(container->evaluateMode());

  server.clearRequests();
  reply("Tablet/SaveQuizResults", 200, "{}");
  EXPECT_EQ(sheet("Evaluate"), "Cancel;Start again;Evaluate;");
  // While saving, the sheet offers neither a second evaluation nor a restart.
  EXPECT_EQ(sheet(), "Cancel;");
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alert()->message(), "Score: 60.00%\nQuestions: 5\nMissed: 2");
  EXPECT_EQ(strip(), "Mc -f -c -f -c ");
  EXPECT_EQ(container->currentPage(), 0);
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(lastBody()[0]["questionsId"], "1;2;3;4;5");
  alert()->tapActionWithTitle("Show answers");
  time.runUntilIdle();

  EXPECT_EQ(sheet("Start again"), "Cancel;Start again;");
  EXPECT_EQ(strip(), "M. -. -. -. -. ");
  for (const auto& s : screens) EXPECT_FALSE(s->isAnswered());
}

}  // namespace
