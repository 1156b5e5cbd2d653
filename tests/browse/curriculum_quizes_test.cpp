#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "browse/curriculum_quiz_cell.h"
#include "browse/curriculum_quizes_view_controller.h"
#include "browse/quizes_view_controller.h"
#include "browse_fixture.h"

namespace {

using Id = CurriculumQuizesViewController::Id;

// Quizzes 1, 2, ... in the curricula named, in that order.
std::string quizes(const std::vector<Id>& curriculumIds) {
  std::string list;
  for (std::size_t i = 0; i < curriculumIds.size(); ++i)
    list += fmt::format(R"({}{{"id":{},"name":"Q","curriculumId":{},"quizLevel":{{"id":1}}}})", i ? "," : "", i + 1,
                        curriculumIds[i]);
  return "[" + list + "]";
}

std::string curriculum(Id id, const std::string& name) {
  return fmt::format(R"([{{"id":{},"name":"{}","description":"d"}}])", id, name);
}

// Best results for quizzes 1 to `count`.
std::string results(int count) {
  std::string list;
  for (int i = 1; i <= count; ++i)
    list += fmt::format(R"({}{{"quizId":{},"score":1,"maxScore":2}})", i > 1 ? "," : "", i);
  return "[" + list + "]";
}

// The curriculum quizzes of a lecture pushed over a plain screen, its three kinds of call held.
class CurriculumQuizesTest : public BrowseTest {
 protected:
  void open(const std::string& lectureJson) {
    api = holdCalls();
    screen = std::dynamic_pointer_cast<CurriculumQuizesViewController>(scene("curriculumQuizesViewController"));
    screen->setLecture(Lecture::init(*LectureResponse::decode(lectureJson)));
    show(std::make_shared<UIViewController>());
    nav->pushViewController(screen, false);
    time.runUntilIdle();
    table = screen->tableView.lock();
  }
  std::vector<HoldingBackendApi::Call>::iterator held(const std::string& name, std::optional<Id> curriculumId) {
    return std::find_if(api->held.begin(), api->held.end(),
                        [&](const auto& call) { return call.name == name && call.curriculumId == curriculumId; });
  }
  // Lets the held call go with `body` as the backend's answer and runs until the screen has applied
  // it: a further call held, a reload, an alert, or the overlay it showed hidden.
  void answer(const std::string& name, std::optional<Id> curriculumId, const std::string& body, int status = 200) {
    auto at = held(name, curriculumId);
    ASSERT_NE(at, api->held.end()) << name << " " << curriculumId.value_or(0);
    std::string path = name;
    path[0] = static_cast<char>(std::toupper(path[0]));
    reply(path, body, status);
    const auto calls = api->held.size();
    const int reloads = table->reloadDataCount();
    const bool showing = overlayPending();
    api->release(static_cast<std::size_t>(at - api->held.begin()));
    ASSERT_TRUE(time.runUntil([&] {
      return api->held.size() >= calls || table->reloadDataCount() != reloads || nav->presentedViewController() ||
             (showing && !overlayPending());
    }));
    time.runUntilIdle();
  }
  // The rows as the table shows them: "name done/total".
  std::string rows() {
    std::string text;
    for (int r = 0; r < table->numberOfRowsInSection(0); ++r) {
      auto cell = std::dynamic_pointer_cast<CurriculumQuizCell>(table->cellForRowAtIndexPath({0, r}));
      text += (r ? "," : "") + cell->curriculumNameLabel.lock()->text().value_or("") + " " +
              cell->quizCountLabel.lock()->text().value_or("");
    }
    return text;
  }
  static bool overlayPending() { return ProgressIndicatorHelper::instance()->timer() != nullptr; }

  std::shared_ptr<HoldingBackendApi> api;
  std::shared_ptr<CurriculumQuizesViewController> screen;
  std::shared_ptr<UITableView> table;
};

TEST_F(CurriculumQuizesTest, CurriculaComeInReplyOrderWithUncappedCountsAndOpenTheirQuizList) {
  open(lecture(3, "Biology"));
  answer("getQuizes", std::nullopt, quizes({20, 30, 10, 30, 20, 30}));
  // One request per curriculum, all out before any reply.
  ASSERT_EQ(api->held.size(), 3u);
  answer("getCurriculums", 30, curriculum(30, "Genes"));
  answer("getCurriculums", 10, curriculum(10, "Cells"));
  EXPECT_EQ(std::tuple(rows(), overlayPending()), std::tuple("", true));
  // The first best results draw both rows; the other curriculum has none done yet.
  answer("getBestQuizResults", 10, results(1));
  EXPECT_EQ(std::tuple(rows(), overlayPending()), std::tuple("Genes 0/3,Cells 1/1", false));
  answer("getCurriculums", 20, curriculum(20, "Atoms"));
  answer("getBestQuizResults", 20, results(3));
  answer("getBestQuizResults", 30, "[]");
  EXPECT_EQ(std::tuple(rows(), api->held.size()), std::tuple("Genes 0/3,Cells 1/1,Atoms 3/2", 0u));

  const auto colors = *screen->lecture()->colors();
  EXPECT_EQ(std::tuple(screen->navigationItem()->title().value_or(""), nav->navigationBar()->barTintColor()),
            std::tuple("Biology", std::optional(colors.primary)));
  ASSERT_TRUE(table->tapRowAtIndexPath({0, 2}));
  auto list = std::dynamic_pointer_cast<QuizesViewController>(nav->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(std::tuple(list->lectureId(), list->curriculumId(), list->lectureColor(), list->lectureTextColor()),
            std::tuple(std::optional<Id>(3), std::optional<Id>(20), std::optional(colors.primary),
                       std::optional(colors.primaryText)));

  // Back from the quiz list everything is cleared and asked again; until the reload the old rows
  // read as blank cells and take no tap.
  nav->popViewControllerAnimated(false);
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(screen->curriculums().size(), screen->quizesDone().size(),
                       held("getQuizes", std::nullopt) != api->held.end()),
            std::tuple(0u, 0u, true));
  EXPECT_FALSE(std::dynamic_pointer_cast<CurriculumQuizCell>(screen->cellForRowAtIndexPath(*table, {0, 2})));
  screen->didSelectRowAtIndexPath(*table, {0, 2});
  EXPECT_EQ(nav->topViewController(), screen);
}

TEST_F(CurriculumQuizesTest, EmptyStaleAndFailedRepliesNeitherDuplicateRowsNorLeaveTheOverlay) {
  open(lecture(4, "History", "none"));
  answer("getQuizes", std::nullopt, "[]");
  EXPECT_EQ(std::tuple(rows(), overlayPending(), api->held.size(), table->reloadDataCount() > 0),
            std::tuple("", false, 0u, true));

  // A curriculum reply of the first appearance arrives after the second one began: it only hides
  // the overlay, and the second appearance's row comes once.
  reappear();
  answer("getQuizes", std::nullopt, quizes({8}));
  reappear();
  answer("getCurriculums", 8, curriculum(8, "Kings"));
  EXPECT_EQ(std::tuple(screen->curriculums().size(), overlayPending(), api->held.size()), std::tuple(0u, false, 1u));
  answer("getQuizes", std::nullopt, quizes({8, 8}));
  answer("getCurriculums", 8, curriculum(8, "Kings"));
  // A best result for a curriculum the screen no longer counts changes no count but still redraws.
  screen->setQuizesDone({});
  answer("getBestQuizResults", 8, results(1));
  EXPECT_EQ(std::tuple(rows(), overlayPending()), std::tuple("Kings ", false));

  // Without colours the bar stays plain and the quiz list gets none.
  table->tapRowAtIndexPath({0, 0});
  auto list = std::dynamic_pointer_cast<QuizesViewController>(nav->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(std::tuple(list->lectureColor(), list->lectureTextColor(), nav->navigationBar()->barTintColor()),
            std::tuple(std::optional<UIColor>(), std::optional<UIColor>(), std::optional<UIColor>()));

  // An empty curriculum reply and a failed quiz request each end in an alert.
  nav->popViewControllerAnimated(false);
  time.runUntilIdle();
  answer("getQuizes", std::nullopt, quizes({8}));
  answer("getCurriculums", 8, "[]");
  EXPECT_EQ(std::tuple(alertTitle().empty(), overlayPending(), screen->curriculums().size()),
            std::tuple(false, false, 0u));
  dismissAlert();
  reappear();
  answer("getQuizes", std::nullopt, R"({"errorMessage":"gone"})", 400);
  EXPECT_EQ(std::tuple(alertTitle(), overlayPending()), std::tuple("gone", false));
}

}  // namespace
