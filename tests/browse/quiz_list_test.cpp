#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "browse/quiz_list_cell.h"
#include "browse/quizes_view_controller.h"
#include "browse_fixture.h"
#include "platform/ui/ui_alert_controller.h"
#include "quiz/quiz_container_view_controller.h"

namespace {

std::string quiz(int id, const std::string& name) {
  return fmt::format(R"({{"id":{},"name":"{}","curriculumId":8,"quizLevel":{{"id":4}}}})", id, name);
}

std::vector<std::shared_ptr<Quiz>> quizes(const std::vector<std::string>& records) {
  std::vector<std::shared_ptr<Quiz>> list;
  for (const auto& record : records) list.push_back(Quiz::init(*QuizResponse::decode(record)));
  return list;
}

std::string imageName(const std::weak_ptr<UIImageView>& view) {
  auto image = view.lock()->image();
  return image ? image->name().value_or("?") : "-";
}

// A row as "name progress-picture percentage start-picture"; "-" for what is not set.
std::string row(UITableViewCell& tableCell) {
  auto& cell = dynamic_cast<QuizListCell&>(tableCell);
  return cell.quizNameLabel.lock()->text().value_or("-") + " " + imageName(cell.quizProgressImageView) + " " +
         cell.quizProgressLabel.lock()->text().value_or("-") + " " + imageName(cell.quizStartImageView);
}

TEST(QuizProgressTest, SixthsWithTheRoundedPercentageBelowOneAndTheDoneLookFromOne) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::tuple<std::optional<double>, std::string, std::string, std::string>> cases = {
      {std::nullopt, "QuizDone0", "0%", "QuizResume"},
      {0.0, "QuizDone0", "0%", "QuizRetake"},
      {0.004, "QuizDone0", "0%", "QuizRetake"},
      {0.125, "QuizDone0", "13%", "QuizRetake"},
      {std::nextafter(1.0 / 6, 0.0), "QuizDone0", "17%", "QuizRetake"},
      {1.0 / 6, "QuizDone1", "17%", "QuizRetake"},
      {2.0 / 6, "QuizDone2", "33%", "QuizRetake"},
      {0.5, "QuizDone3", "50%", "QuizRetake"},
      {4.0 / 6, "QuizDone4", "67%", "QuizRetake"},
      {5.0 / 6, "QuizDone5", "83%", "QuizRetake"},
      {0.999, "QuizDone5", "100%", "QuizRetake"},
      {1.0, "QuizDone6", "", "QuizRetake"},
      {2.5, "QuizDone6", "", "QuizRetake"},
      {inf, "QuizDone6", "", "QuizRetake"},
      {-0.25, "QuizDone0", "0%", "QuizRetake"},
      {-inf, "QuizDone0", "0%", "QuizRetake"},
      {std::nan(""), "QuizDone0", "0%", "QuizRetake"},
  };
  for (const auto& [result, image, text, start] : cases) {
    EXPECT_EQ(std::tuple(quizProgress(result), quizStartImageName(result)),
              std::tuple(QuizProgress{image, text}, start))
        << (result ? fmt::format("{}", *result) : "none");
  }
}

class QuizListTest : public BrowseTest {
 protected:
  // The quiz list of curriculum 8 of lecture 5, opened with `handedOver`.
  std::shared_ptr<QuizesViewController> open(const std::vector<std::string>& handedOver,
                                             std::optional<UIColor> color = UIColor::redColor()) {
    auto list = std::dynamic_pointer_cast<QuizesViewController>(scene("quizesViewController"));
    list->setLectureId(5);
    list->setLectureColor(color);
    list->setLectureTextColor(UIColor::whiteColor());
    list->setCurriculumId(8);
    list->setQuizes(quizes(handedOver));
    show(list);
    time.runUntilIdle();
    return list;
  }
  std::string rows(const std::shared_ptr<QuizesViewController>& list) {
    auto table = list->tableView.lock();
    std::string text;
    for (int i = 0; i < table->numberOfRowsInSection(0); ++i) text += row(*table->cellForRowAtIndexPath({0, i})) + "|";
    return text;
  }
  std::shared_ptr<UIAlertController> alert() const {
    return std::dynamic_pointer_cast<UIAlertController>(nav->presentedViewController());
  }
  // The held call at the front once it is there: its name and curriculum.
  std::string nextCall(HoldingBackendApi& api) {
    time.runUntil([&] { return !api.held.empty(); });
    if (api.held.empty()) return "none";
    return api.held.front().name + " " + std::to_string(api.held.front().curriculumId.value_or(0));
  }
};

TEST_F(QuizListTest, NewListShowsOnlyWithItsBestResultsAndRowsItLacksAreBlankAndDoNothing) {
  reply("GetQuizes", "[" + quiz(3, "Solving") + "]");
  reply("GetBestQuizResults", R"([{"quizId":3,"score":1,"maxScore":2},{"quizId":9,"score":1,"maxScore":1}])");
  auto api = holdCalls();
  auto list = open({quiz(1, "Old A"), quiz(2, "Old B")});
  EXPECT_EQ(list->navigationItem()->title(), "Quizzes");
  // The handed-over list shows, every row in the no-result look, until both replies are in.
  EXPECT_EQ(rows(list), "Old A QuizDone0 0% QuizResume|Old B QuizDone0 0% QuizResume|");
  EXPECT_EQ(nextCall(*api), "getQuizes 8");
  api->release(0);
  EXPECT_EQ(nextCall(*api), "getBestQuizResults 8");
  auto quizesBody = nlohmann::json::parse(server.lastRequest()->body);
  EXPECT_TRUE(quizesBody["lectureId"].is_null()) << quizesBody;

  // The quizzes are in: the list is new, the table the old one, the overlay still asked for.
  auto table = list->tableView.lock();
  EXPECT_EQ(std::tuple(list->quizes().size(), table->numberOfRowsInSection(0), table->reloadDataCount()),
            std::tuple(1u, 2, 1));
  EXPECT_NE(ProgressIndicatorHelper::instance()->timer(), nullptr);
  // Row 1 is no longer in the list: its cell is blank and a tap on it opens nothing.
  EXPECT_EQ(row(*list->cellForRowAtIndexPath(*table, {0, 1})), "- - - -");
  list->didSelectRowAtIndexPath(*table, {0, 1});
  EXPECT_EQ(nav->topViewController(), list);

  api->release(0);
  settle();
  EXPECT_EQ(std::tuple(rows(list), list->bestResults().size(), ProgressIndicatorHelper::instance()->timer()),
            std::tuple("Solving QuizDone3 50% QuizRetake|", 2u, nullptr));

  // A quiz opens the container with the list's inputs and the quiz's id.
  table->tapRowAtIndexPath({0, 0});
  time.runUntilIdle();
  auto container = std::dynamic_pointer_cast<QuizContainerViewController>(nav->topViewController());
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(std::tuple(container->lectureId, container->curriculumId, container->quizId, container->lectureColor,
                       container->lectureTextColor),
            std::tuple(5, 8, 3, UIColor::redColor(), UIColor::whiteColor()));
  // Back from the quiz, both requests run again.
  api->held.clear();
  nav->popViewControllerAnimated(false);
  EXPECT_EQ(nextCall(*api), "getQuizes 8");
}

TEST_F(QuizListTest, EitherFailureHidesTheOverlayAndAlertsKeepingWhatItDidNotReplace) {
  reply("GetQuizes", "[" + quiz(3, "Solving") + "]");
  reply("GetBestQuizResults", R"([{"quizId":3,"score":1,"maxScore":4}])");
  // No list handed over: the table is empty until both replies are in.
  auto api = holdCalls();
  auto list = open({});
  api->release(0);
  EXPECT_EQ(nextCall(*api), "getBestQuizResults 8");
  EXPECT_EQ(list->tableView.lock()->numberOfRowsInSection(0), 0);
  api->release(0);
  settle();
  EXPECT_EQ(rows(list), "Solving QuizDone1 25% QuizRetake|");

  struct Case {
    std::string quizes, results, alert, rows;
    std::size_t quizCount;
  };
  const std::vector<Case> cases = {
      // The quizzes fail: nothing changes.
      {R"({"errorMessage":"no quizzes"})", "[]", "no quizzes", "Solving QuizDone1 25% QuizRetake|", 1},
      // The best results fail: the list is new, the results and the table the old ones.
      {"[" + quiz(4, "A") + "," + quiz(5, "B") + "]", R"({"errorMessage":"no results"})", "no results",
       "Solving QuizDone1 25% QuizRetake|", 2},
  };
  for (const auto& c : cases) {
    reply("GetQuizes", c.quizes, c.quizes.starts_with("{") ? 400 : 200);
    reply("GetBestQuizResults", c.results, c.results.starts_with("{") ? 400 : 200);
    list->viewWillAppear(false);
    while (!api->held.empty()) {
      api->release(0);
      time.runUntil([&] { return !api->held.empty() || !ProgressIndicatorHelper::instance()->timer(); });
    }
    settle();
    ASSERT_NE(alert(), nullptr) << c.alert;
    EXPECT_EQ(std::tuple(alert()->title(), rows(list), list->quizes().size(), list->bestResults().at(3)),
              std::tuple(c.alert, c.rows, c.quizCount, 0.25));
    EXPECT_EQ(ProgressIndicatorHelper::instance()->timer(), nullptr);
    alert()->tapActionWithTitle("OK");
    time.runUntilIdle();
  }
}

TEST_F(QuizListTest, CellsTakeTheLectureColourAsTemplatesElseKeepTheirTint) {
  UIScreen::mainScreen()->setScale(3);
  auto list = std::dynamic_pointer_cast<QuizesViewController>(scene("quizesViewController"));
  list->loadViewIfNeeded();
  auto cell = std::dynamic_pointer_cast<QuizListCell>(
      list->tableView.lock()->dequeueReusableCellWithIdentifier(QuizesViewController::kCellIdentifier));
  ASSERT_NE(cell, nullptr);
  EXPECT_DOUBLE_EQ(cell->separatorLineHeight.lock()->constant(), 1.0 / 3);
  const auto solving = quizes({quiz(3, "Solving")}).front();
  fillQuizListCell(*cell, *solving, 0.5, UIColor::redColor());
  auto start = cell->quizStartImageView.lock();
  EXPECT_EQ(
      std::tuple(start->contentMode(), start->image()->renderingMode(), start->tintColor()),
      std::tuple(UIViewContentMode::ScaleAspectFill, UIImage::RenderingMode::AlwaysTemplate, UIColor::redColor()));
  // Reused for a screen without a lecture colour.
  fillQuizListCell(*cell, *solving, std::nullopt, std::nullopt);
  EXPECT_EQ(std::tuple(row(*cell), start->tintColor()),
            std::tuple("Solving QuizDone0 0% QuizResume", UIColor::redColor()));
  // Reused for a row the list no longer holds.
  clearQuizListCell(*cell);
  EXPECT_EQ(row(*cell), "- - - -");
}

}  // namespace
