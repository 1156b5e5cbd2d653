#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "analytics/zai.h"
#include "analytics/zai_fields.h"
#include "analytics/zai_tracker.h"
#include "browse/achievement_cell.h"
#include "browse/achievement_view_controller.h"
#include "browse/attachment_view_controller.h"
#include "browse/curriculum_content_view_controller.h"
#include "browse/curriculum_quizes_view_controller.h"
#include "browse/lecture_quizes_view_controller.h"
#include "browse/news_cell.h"
#include "browse/news_content_view_controller.h"
#include "browse/news_list_view_controller.h"
#include "browse/quizes_view_controller.h"
#include "browse_fixture.h"
#include "model/attachment.h"
#include "model/curriculum.h"
#include "model/curriculum_response.h"
#include "model/document_response.h"
#include "support/scoped_env.h"

namespace {

// The tab screens with a tracker that keeps the last screen name.
class TabsTest : public BrowseTest {
 protected:
  void SetUp() override {
    BrowseTest::SetUp();
    ZAI::sharedInstance()->setDefaultTracker(tracker);
  }
  void TearDown() override {
    ZAI::sharedInstance()->setDefaultTracker(nullptr);
    BrowseTest::TearDown();
  }
  std::string tracked() const { return tracker->get(kZAIScreenName).value_or(""); }
  // Back on the tab after the shared bar was coloured elsewhere.
  void recolourAndReappear() {
    nav->navigationBar()->setBarTintColor(UIColor::whiteColor());
    reappear();
    settle();
  }

  std::shared_ptr<ZAITracker> tracker = std::make_shared<ZAITracker>("tabs", std::weak_ptr<ZAI>());
};

TEST_F(TabsTest, QuizzesTabFailsSilentlyKeepsItsOwnCacheAndOpensTheTappedLecturesCurricula) {
  reply("GetLecturesWithQuiz", R"({"errorMessage":"down"})", 400);
  auto grid = std::dynamic_pointer_cast<LectureQuizesViewController>(scene("lectureQuizes"));
  show(grid);
  settle();
  EXPECT_EQ(std::tuple(alertTitle(), grid->filteredLectures().size(), tracked()), std::tuple("", 0u, "LectureQuizes"));
  reply("GetLecturesWithQuiz", "[" + lecture(1, "Lab 1") + "," + lecture(2, "ABC") + "]");
  ASSERT_TRUE(grid->refreshControl()->pull());
  settle();
  const auto& service = *ServiceLocator::shared().lectureService();
  EXPECT_EQ(std::tuple(names(grid->filteredLectures()), names(service.quizLectures()), service.lectures().size()),
            std::tuple("ABC,Lab 1", "ABC,Lab 1", 0u));
  grid->searchBar.lock()->typeText("lab");
  ASSERT_TRUE(grid->collectionView.lock()->tapItemAtIndexPath({0, 0}));
  auto curricula = std::dynamic_pointer_cast<CurriculumQuizesViewController>(nav->topViewController());
  ASSERT_TRUE(curricula);
  EXPECT_EQ(curricula->lecture()->name(), "Lab 1");
}

TEST_F(TabsTest, EveryBrowseScreenReportsItsOwnNameAsItAppears) {
  auto lectureRecord = [] { return Lecture::init(*LectureResponse::decode(lecture(3, "Biology"))); };
  auto curriculum = Curriculum::init(*CurriculumResponse::decode(R"({"id":8,"name":"Cells","description":"d"})"));
  auto attachment = Attachment::init(*DocumentResponse::decode(R"({"id":1,"name":"N","path":"p","fileName":"a.pdf"})"));
  using Prepare = std::function<void(UIViewController&)>;
  const std::vector<std::tuple<std::string, Prepare, std::string>> screens{
      {"lectures", [](UIViewController&) {}, "Lectures"},
      {"lectureQuizes", [](UIViewController&) {}, "LectureQuizes"},
      {"lectureDetailsViewController",
       [&](UIViewController& c) { dynamic_cast<LectureDetailsViewController&>(c).setLecture(lectureRecord()); },
       "LectureDetails"},
      {"curriculumContentViewController",
       [&](UIViewController& c) { dynamic_cast<CurriculumContentViewController&>(c).setCurriculum(curriculum); },
       "CurriculumContent"},
      {"attachmentViewController",
       [&](UIViewController& c) { dynamic_cast<AttachmentViewController&>(c).setAttachments({attachment}); },
       "Attachments"},
      {"curriculumQuizesViewController",
       [&](UIViewController& c) { dynamic_cast<CurriculumQuizesViewController&>(c).setLecture(lectureRecord()); },
       "CurriculumQuizes"},
      {"quizesViewController", [](UIViewController&) {}, "QuizesList"},
      {"news", [](UIViewController&) {}, "NewsList"},
      {"newsContentViewController",
       [](UIViewController& c) { dynamic_cast<NewsContentViewController&>(c).setContent("<p>n</p>"); }, "NewsContent"},
      {"achievements", [](UIViewController&) {}, "Achievements"},
  };
  for (const auto& [identifier, prepare, name] : screens) {
    tracker->set(kZAIScreenName, "");
    auto screen = scene(identifier);
    prepare(*screen);
    show(screen);
    settle();
    EXPECT_EQ(tracked(), name) << identifier;
    if (nav->presentedViewController()) dismissAlert();
  }
}

// The quizzes tab with its load replaced: what reaches getLectureQuizData.
class RecordingQuizTab : public LectureQuizesViewController {
 public:
  void getLectureQuizData(bool useCache) override { loads.push_back(useCache); }
  std::vector<bool> loads;
};

TEST_F(TabsTest, TheQuizzesTabLoadsOnlyThroughGetLectureQuizDataWithTheCacheAsItAppearsNotOnAPull) {
  auto grid = std::make_shared<RecordingQuizTab>();
  auto search = UISearchBar::make();
  auto collection = UICollectionView::make(CGRectMake(0, 44, 320, 400));
  // Connected before the view loads, as a storyboard does.
  grid->searchBar = search;
  grid->collectionView = collection;
  grid->view()->addSubview(search);
  grid->view()->addSubview(collection);
  show(grid);
  ASSERT_TRUE(grid->refreshControl()->pull());
  settle();
  EXPECT_EQ(std::tuple(grid->loads, server.requestCount(), tracked()),
            std::tuple(std::vector<bool>{true, false}, 0u, "LectureQuizes"));
}

TEST_F(TabsTest, NewsListShowsItsRowsAndOpensOnlyItemsWithContent) {
  ScopedEnv utc("TZ", "UTC0");
  reply("GetNews", R"([{"id":1,"title":"Term","description":"Starts","createDate":"2024-09-02 23:30:00",
                       "color":"teal_amber","longText":"abc"},
                      {"id":2,"createDate":"2024-01-01 00:00:00"}])");
  auto list = std::dynamic_pointer_cast<NewsListViewController>(scene("news"));
  show(list);
  settle();
  auto table = list->tableView.lock();
  auto row = [&](int r) {
    auto cell = std::dynamic_pointer_cast<NewsCell>(table->cellForRowAtIndexPath({0, r}));
    return std::tuple(cell->titleLabel.lock()->text().value_or(""), cell->descriptionLabel.lock()->text().value_or(""),
                      cell->dateLabel.lock()->text().value_or(""), cell->lectureColorView.lock()->backgroundColor());
  };
  EXPECT_EQ(row(0), std::tuple("Term", "Starts", "2024. 09. 02.", std::optional(list->news()[0]->colors()->primary)));
  EXPECT_EQ(row(1), std::tuple("", "", "2024. 01. 01.", std::optional<UIColor>()));
  EXPECT_EQ(tracked(), "NewsList");

  table->tapRowAtIndexPath({0, 1});
  EXPECT_EQ(std::tuple(alertTitle(), nav->topViewController()),
            std::tuple(NSLocalizedString("newlist_error_nocontent"), list));
  dismissAlert();
  table->tapRowAtIndexPath({0, 0});
  auto content = std::dynamic_pointer_cast<NewsContentViewController>(nav->topViewController());
  ASSERT_TRUE(content);
  EXPECT_EQ(std::tuple(content->title(), content->content()), std::tuple(std::optional<std::string>("Term"), "abc"));

  // Back on the list: a failure keeps the rows, an empty reply empties them; the bar is plain again.
  reply("GetNews", R"({"errorMessage":"down"})", 400);
  nav->popViewControllerAnimated(false);
  settle();
  EXPECT_EQ(std::tuple(alertTitle(), table->numberOfRowsInSection(0)), std::tuple("down", 2));
  dismissAlert();
  reply("GetNews", "[]");
  recolourAndReappear();
  EXPECT_EQ(std::tuple(table->numberOfRowsInSection(0), ProgressIndicatorHelper::instance()->timer() == nullptr,
                       nav->navigationBar()->barTintColor()),
            std::tuple(0, true, std::optional<UIColor>()));
}

TEST_F(TabsTest, NewsContentSitsBelowTheBarsAndFollowsItsLinksItself) {
  server.reply("GET", "/next", {.status = 200, .body = "<p>next page</p>", .contentType = "text/html"});
  auto content = std::dynamic_pointer_cast<NewsContentViewController>(scene("newsContentViewController"));
  content->setContent(fmt::format(R"(<p>abc <a href="{}">on</a></p>)", server.url("next")));
  show(content);
  auto web = content->webView();
  ASSERT_TRUE(time.runUntil([&] { return !web->document().lines.empty(); }));
  EXPECT_EQ(tracked(), "NewsContent");
  const auto& constraints = content->view()->constraints();
  ASSERT_EQ(constraints.size(), 4u);
  EXPECT_EQ(
      std::tuple(constraints[2]->firstAttribute(), constraints[2]->secondItem(), constraints[2]->secondAttribute()),
      std::tuple(NSLayoutAttribute::Top, content->topLayoutGuide(), NSLayoutAttribute::Bottom));
  ASSERT_TRUE(web->tapLink(1));
  ASSERT_TRUE(time.runUntil([&] { return web->document().lines == std::vector<std::string>{"next page"}; }));
  EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());
}

TEST(AchievementItemWidthTest, OneCardARowOnPhonesTwoOnPadsNeverNegative) {
  using enum UIUserInterfaceIdiom;
  for (const auto& [idiom, bounds, width] : std::vector<std::tuple<UIUserInterfaceIdiom, CGFloat, CGFloat>>{
           {Phone, 320, 308}, {Pad, 768, 373}, {Pad, 1024, 501}, {Phone, 5, 0}, {Pad, 10, 0}})
    EXPECT_EQ(achievementItemWidth(idiom, bounds), width) << bounds;
}

TEST_F(TabsTest, AchievementsLoadTheirCardsResizeThemAndReportFailures) {
  reply("GetStudentAchievements", R"([{"id":1,"name":"First","description":"one","picture":"::bad"},
                                      {"id":2,"name":"Second","description":"two"}])");
  auto grid = std::dynamic_pointer_cast<AchievementViewController>(scene("achievements"));
  show(grid);
  settle();
  recolourAndReappear();
  auto collection = grid->collectionView.lock();
  auto cell = std::dynamic_pointer_cast<AchievementCell>(collection->cellForItemAtIndexPath({0, 1}));
  ASSERT_TRUE(cell);
  EXPECT_EQ(std::tuple(cell->achievementNameLabel.lock()->text().value_or(""),
                       cell->achievementImageView.lock()->image()->description(), tracked(),
                       nav->navigationBar()->barTintColor()),
            std::tuple("Second", "placeholder", "Achievements", std::optional<UIColor>()));

  // A new width reloads the shown cards at once; the same width again reloads nothing.
  UIDevice::currentDevice()->setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
  collection->setBounds(CGRectMake(0, 0, 768, 900));
  auto layout = std::dynamic_pointer_cast<UICollectionViewFlowLayout>(collection->collectionViewLayout());
  const CGFloat height = layout->itemSize().height;
  auto configured = [&] { return collection->cellsCreated() + collection->cellsReused(); };
  int before = configured();
  grid->viewDidLayoutSubviews();
  EXPECT_EQ(std::tuple(layout->itemSize(), configured() > before), std::tuple(CGSize{373, height}, true));
  before = configured();
  grid->viewDidLayoutSubviews();
  EXPECT_EQ(configured(), before);

  reply("GetStudentAchievements", R"({"errorMessage":"down"})", 400);
  recolourAndReappear();
  EXPECT_EQ(std::tuple(alertTitle(), grid->achievements().size()), std::tuple("down", 2u));
}

}  // namespace
