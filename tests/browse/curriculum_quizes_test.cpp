#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "browse/curriculum_quiz_cell.h"
#include "browse/curriculum_quizes_view_controller.h"
#include "browse/quizes_view_controller.h"
#include "browse_fixture.h"
#include "platform/ui/ui_alert_controller.h"

namespace {

using Id = CurriculumQuizesViewController::Id;

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

std::string results(int count) {
  std::string list;
  for (int i = 0; i < count; ++i)
    list += fmt::format(R"({}{{"quizId":{},"score":1,"maxScore":2}})", i ? "," : "", i + 1);
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
  // A call still held keeps the screen, which keeps the service and so the held call.
  void TearDown() override {
    if (api) api->held.clear();
    BrowseTest::TearDown();
  }
  // Lets the held `name` call (for `curriculumId`) go, answered with `body`, and runs until the screen
  // has applied the reply: a further call held, a reload, an alert, or the overlay it showed hidden.
  void answer(const std::string& name, std::optional<Id> curriculumId, const std::string& body, int status = 200) {
    auto at = std::find_if(api->held.begin(), api->held.end(),
                           [&](const auto& call) { return call.name == name && call.curriculumId == curriculumId; });
    ASSERT_NE(at, api->held.end()) << name << " " << curriculumId.value_or(0);
    std::string path = name;
    path[0] = static_cast<char>(std::toupper(path[0]));
    reply(path, body, status);
    const auto calls = api->held.size();
    const int reloads = table->reloadDataCount();
    const bool showing = ProgressIndicatorHelper::instance()->timer() != nullptr;
    api->release(static_cast<std::size_t>(at - api->held.begin()));
    ASSERT_TRUE(time.runUntil([&] {
      return api->held.size() >= calls || table->reloadDataCount() != reloads || nav->presentedViewController() ||
             (showing && !ProgressIndicatorHelper::instance()->timer());
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
  std::multiset<std::string> heldNames() const {
    std::multiset<std::string> names;
    for (const auto& call : api->held) names.insert(call.name + std::to_string(call.curriculumId.value_or(0)));
    return names;
  }
  // Away to another screen and back: a new appearance.
  void reappear() {
    nav->pushViewController(std::make_shared<UIViewController>(), false);
    nav->popViewControllerAnimated(false);
    time.runUntilIdle();
  }
  bool overlayPending() const { return ProgressIndicatorHelper::instance()->timer() != nullptr; }

  std::shared_ptr<HoldingBackendApi> api;
  std::shared_ptr<CurriculumQuizesViewController> screen;
  std::shared_ptr<UITableView> table;
};

TEST_F(CurriculumQuizesTest, CurriculaComeInReplyOrderWithUncappedCountsAndOpenTheirQuizList) {
  open(lecture(3, "Biology"));
  EXPECT_EQ(heldNames(), std::multiset<std::string>{"getQuizes0"});
  answer("getQuizes", std::nullopt, quizes({20, 30, 10, 30, 20, 30}));
  // One request per curriculum, all out before any reply.
  EXPECT_EQ(heldNames(), (std::multiset<std::string>{"getCurriculums10", "getCurriculums20", "getCurriculums30"}));
  answer("getCurriculums", 30, curriculum(30, "Genes"));
  answer("getCurriculums", 10, curriculum(10, "Cells"));
  EXPECT_EQ(std::tuple(rows(), overlayPending()), std::tuple("", true));
  // The first best results draw both rows; the other curriculum has none done yet.
  answer("getBestQuizResults", 10, results(1));
  EXPECT_EQ(std::tuple(rows(), overlayPending()), std::tuple("Genes 0/3,Cells 1/1", false));
  answer("getCurriculums", 20, curriculum(20, "Atoms"));
  answer("getBestQuizResults", 20, results(3));
  answer("getBestQuizResults", 30, "[]");
  EXPECT_EQ(rows(), "Genes 0/3,Cells 1/1,Atoms 3/2");
  EXPECT_TRUE(api->held.empty());

  const auto& colors = *screen->lecture()->colors();
  EXPECT_EQ(std::tuple(screen->navigationItem()->title().value_or(""), nav->navigationBar()->barTintColor()),
            std::tuple("Biology", std::optional(colors.primary)));
  ASSERT_TRUE(table->tapRowAtIndexPath({0, 2}));
  auto list = std::dynamic_pointer_cast<QuizesViewController>(nav->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(std::tuple(list->lectureId(), list->curriculumId(), list->lectureColor(), list->lectureTextColor()),
            std::tuple(std::optional<Id>(3), std::optional<Id>(20), std::optional(colors.primary),
                       std::optional(colors.primaryText)));

  // Back from the quiz list: everything is cleared and asked again; until the reload the old rows
  // read as blank cells and take no tap.
  nav->popViewControllerAnimated(false);
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(screen->curriculums().size(), screen->quizesDone().size(), heldNames()),
            std::tuple(0u, 0u, std::multiset<std::string>{"getQuizes0"}));
  EXPECT_FALSE(std::dynamic_pointer_cast<CurriculumQuizCell>(screen->cellForRowAtIndexPath(*table, {0, 2})));
  screen->didSelectRowAtIndexPath(*table, {0, 2});
  EXPECT_EQ(nav->topViewController(), screen);
}

TEST_F(CurriculumQuizesTest, UncolouredLectureLeavesTheBarAndTheQuizListPlain) {
  open(lecture(4, "History", "none"));
  answer("getQuizes", std::nullopt, quizes({8}));
  answer("getCurriculums", 8, curriculum(8, "Kings"));
  answer("getBestQuizResults", 8, results(0));
  EXPECT_EQ(std::tuple(rows(), nav->navigationBar()->barTintColor()),
            std::tuple("Kings 0/1", std::optional<UIColor>()));
  table->tapRowAtIndexPath({0, 0});
  auto list = std::dynamic_pointer_cast<QuizesViewController>(nav->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(std::tuple(list->lectureColor(), list->lectureTextColor()),
            std::tuple(std::optional<UIColor>(), std::optional<UIColor>()));
}

TEST_F(CurriculumQuizesTest, EmptyStaleAndFailedRepliesNeitherDuplicateRowsNorLeaveTheOverlay) {
  open(lecture(3, "Biology"));
  answer("getQuizes", std::nullopt, "[]");
  EXPECT_EQ(std::tuple(rows(), overlayPending(), api->held.size(), table->reloadDataCount() > 0),
            std::tuple("", false, 0u, true));

  // A curriculum reply of the first appearance arrives after the second one began: it only hides
  // the overlay, and the second appearance's rows come once.
  reappear();
  answer("getQuizes", std::nullopt, quizes({8}));
  reappear();
  answer("getCurriculums", 8, curriculum(8, "Cells"));
  EXPECT_EQ(std::tuple(screen->curriculums().size(), overlayPending(), heldNames()),
            std::tuple(0u, false, std::multiset<std::string>{"getQuizes0"}));
  answer("getQuizes", std::nullopt, quizes({8, 8}));
  answer("getCurriculums", 8, curriculum(8, "Cells"));
  // A best result for a curriculum the screen no longer counts changes no count but still redraws.
  screen->setQuizesDone({});
  answer("getBestQuizResults", 8, results(1));
  EXPECT_EQ(std::tuple(rows(), overlayPending()), std::tuple("Cells ", false));

  // An empty curriculum reply and a failed quiz request each end in an alert.
  for (const auto& [name, body, status] : std::vector<std::tuple<std::string, std::string, int>>{
           {"getCurriculums", "[]", 200}, {"getQuizes", R"({"errorMessage":"gone"})", 400}}) {
    reappear();
    if (name == "getCurriculums") answer("getQuizes", std::nullopt, quizes({8}));
    answer(name, name == "getCurriculums" ? std::optional<Id>(8) : std::nullopt, body, status);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(nav->presentedViewController());
    ASSERT_TRUE(alert) << name;
    EXPECT_EQ(std::tuple(overlayPending(), screen->curriculums().size()), std::tuple(false, 0u)) << name;
    if (status == 400) {
      EXPECT_EQ(alert->title(), "gone");
    }
    alert->tapActionWithTitle("OK");
    time.runUntilIdle();
  }
}

}  // namespace
