#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "browse/attachment_view_controller.h"
#include "browse/curriculum_content_view_controller.h"
#include "browse/lecture_details_cells.h"
#include "browse/lectures_collection_view_cell.h"
#include "browse/lectures_view_controller.h"
#include "browse/quizes_view_controller.h"
#include "browse_fixture.h"
#include "platform/ui/image_codec.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_table_view_row_action.h"

namespace {

TEST_F(BrowseTest, GridSearchesRefreshesAndSizesItsTiles) {
  reply("GetAvailableLectures", "[" + lecture(1, "Lab 1") + "," + lecture(2, "A-B") + "," + lecture(3, "ABC") + "]");
  auto grid = std::dynamic_pointer_cast<LecturesViewController>(scene("lectures"));
  show(grid);
  settle();
  auto search = grid->searchBar.lock();
  search->typeText("ab");
  EXPECT_EQ(names(grid->filteredLectures()), "ABC,Lab 1");
  // Filter then refresh: the grid shows the new list while the bar keeps its text.
  reply("GetAvailableLectures", "[" + lecture(4, "école") + "]");
  ASSERT_TRUE(grid->refreshControl()->pull() && !grid->refreshControl()->isRefreshing());
  settle();
  EXPECT_EQ(std::tuple(names(grid->filteredLectures()), search->text().value_or("")), std::tuple("école", "ab"));
  search->typeText("ÉCOLE");
  EXPECT_EQ(names(grid->filteredLectures()), "école");
  // Back on the grid: the bar is plain again, the text cleared, the cached list shown with no request.
  nav->pushViewController(std::make_shared<UIViewController>(), false);
  nav->navigationBar()->setBarTintColor(UIColor::whiteColor());
  nav->popViewControllerAnimated(false);
  time.advance(1);
  EXPECT_EQ(std::tuple(search->text().value_or(""), server.requestCount(), nav->navigationBar()->barTintColor()),
            std::tuple("", 2u, std::optional<UIColor>()));
  using enum UIUserInterfaceIdiom;
  auto collection = grid->collectionView.lock();
  // Phones below a 568-point screen get 2 x 2 tiles; zero bounds give no negative size.
  for (const auto& [idiom, landscape, screenHeight, bounds, item] :
       std::vector<std::tuple<UIUserInterfaceIdiom, bool, CGFloat, CGSize, CGSize>>{
           {Phone, false, 480, {330, 430}, {150, 200}},
           {Phone, false, 568, {330, 430}, {150, 130}},
           {Phone, true, 320, {430, 220}, {130, 200}},
           {Pad, true, 768, {1050, 640}, {250, 200}},
           {Pad, false, 1024, {760, 1010}, {240, 240}},
           {Phone, false, 480, {0, 0}, {0, 0}}}) {
    UIDevice::currentDevice()->setUserInterfaceIdiom(idiom);
    UIApplication::sharedApplication()->setStatusBarOrientation(landscape ? UIInterfaceOrientation::LandscapeLeft
                                                                          : UIInterfaceOrientation::Portrait);
    UIScreen::mainScreen()->setBounds(CGRectMake(0, 0, 320, screenHeight));
    collection->setBounds(CGRectMake(0, 0, bounds.width, bounds.height));
    grid->viewDidLayoutSubviews();
    EXPECT_EQ(std::dynamic_pointer_cast<UICollectionViewFlowLayout>(collection->collectionViewLayout())->itemSize(),
              item)
        << bounds.width << "x" << bounds.height;
  }
}

TEST_F(BrowseTest, TilesShowTheNameAtATenthOfTheirHeightThePictureOrPlaceholderAndTheColours) {
  server.reply("GET", "/api/p.png", {.body = encodePNG({3, 2, std::vector<std::uint8_t>(24, 255)})->toString()});
  reply("GetAvailableLectures", "[" + lecture(1, "Lab 1").insert(1, R"("picture":"p.png",)") + "," +
                                    lecture(2, "Poems", "lime_teal") + "," + lecture(3, "Plain", "no_such_theme") +
                                    "]");
  auto grid = std::dynamic_pointer_cast<LecturesViewController>(scene("lectures"));
  show(grid);
  settle();
  auto collection = grid->collectionView.lock();
  collection->setBounds(CGRectMake(0, 0, 330, 430));
  grid->viewDidLayoutSubviews();
  // The tile and the lecture named `name`.
  auto find = [&](const std::string& name) {
    const auto& shown = grid->filteredLectures();
    const auto at = std::find_if(shown.begin(), shown.end(), [&](const auto& l) { return l->name() == name; });
    EXPECT_NE(at, shown.end()) << name;
    auto cell = std::dynamic_pointer_cast<LecturesCollectionViewCell>(
        collection->cellForItemAtIndexPath({0, static_cast<int>(at - shown.begin())}));
    EXPECT_TRUE(cell) << name;
    return std::pair(cell, *at);
  };
  ASSERT_TRUE(time.runUntil([&] { return find("Lab 1").first->lectureImageView.lock()->image() != nullptr; }));
  auto look = [&](const std::string& name) {
    auto cell = find(name).first;
    auto label = cell->lectureLabel.lock();
    auto image = cell->lectureImageView.lock()->image();
    return std::tuple(label->text().value_or(""), image ? image->description() : "-", label->font().pointSize(),
                      cell->bottomView.lock()->backgroundColor(), label->textColor(), label->shadowOffset().height);
  };
  const auto teal = *find("Lab 1").second->colors();
  const auto lime = *find("Poems").second->colors();
  const double size = find("Lab 1").first->bounds().size.height / 10;
  ASSERT_GT(size, 0);
  using Look = decltype(look(""));
  // White text casts its shadow a point down, dark text none; without colours the nib's look stays.
  EXPECT_EQ(look("Lab 1"), Look("Lab 1", "image 3x2", size, teal.primary, teal.primaryText, 1));
  EXPECT_EQ(look("Poems"), Look("Poems", "placeholder", size, lime.primary, lime.primaryText, 0));
  EXPECT_EQ(look("Plain"), Look("Plain", "placeholder", size, std::nullopt, UILabel().textColor(), 1));
}

TEST_F(BrowseTest, DetailsHeaderTakesThreeTenthsOfTheScreenAndTheLecturesPicture) {
  reply("GetCurriculums", "[]");
  auto details = showDetails(lecture(3, "Biology"));
  auto header = details->tableView()->tableHeaderView();
  ASSERT_EQ(header, details->headerImageView.lock());
  EXPECT_DOUBLE_EQ(header->frame().size.height, details->view()->frame().size.height * 0.3);
  EXPECT_GT(header->frame().size.height, 0);
  EXPECT_EQ(details->headerImageView.lock()->image()->description(), "placeholder");
}

constexpr const char* kCurricula =
    R"([{"id":8,"name":"Cells","description":"d8"},{"id":9,"name":"Genes","description":"d9"}])";

TEST_F(BrowseTest, RowActionsAndTapsOpenTheirScreensOrSayWhyNot) {
  reply("GetCurriculums", kCurricula);
  // The quiz list loads its best results as it opens.
  reply("GetBestQuizResults", "[]");
  auto details = showDetails(lecture(3, "Biology", "none"));
  auto table = details->tableView();
  struct Case {
    const char* path;
    std::string body;
    int action;           // -1: a tap on the row
    std::string outcome;  // the alert's title, or the class and title of the screen pushed
  };
  const std::vector<Case> cases = {
      {"GetCurriculums", R"([{"id":8,"name":"C","description":"d"}])", -1, "This curriculum has no content."},
      {"GetQuizes", "[]", 0, "There is no quiz for this curriculum."},
      {"GetQuizes", R"([{"id":77,"name":"Q","curriculumId":8,"quizLevel":{"id":4}}])", 0,
       "QuizesViewController: Quizzes"},
      {"GetDocuments", "[]", 1, "This curriculum has no attachments."},
      {"GetDocuments", R"([{"id":1,"name":"N","path":"a.pdf","fileName":"a.pdf"}])", 1,
       "AttachmentViewController: Attachments"},
      {"GetCurriculums", R"([{"id":8,"name":"C","description":"d","htmlSite":""}])", -1,
       "CurriculumContentViewController: C"},
      {"GetDocuments", R"({"errorMessage":"gone"})", 1, "gone"},
  };
  for (const auto& c : cases) {
    reply(c.path, c.body, c.body.starts_with("{") ? 400 : 200);
    c.action < 0 ? void(table->tapRowAtIndexPath({1, 0}))
                 : table->swipeRowAtIndexPath({1, 0}).at(static_cast<std::size_t>(c.action))->trigger({1, 0});
    settle();
    auto alert = std::dynamic_pointer_cast<UIAlertController>(nav->presentedViewController());
    auto top = nav->topViewController();
    EXPECT_EQ(alert ? alert->title().value_or("-")
                    : demangledClassName(typeid(*top)) + ": " + top->navigationItem()->title().value_or("-"),
              c.outcome)
        << c.path << " " << c.action;
    if (alert) alert->tapActionWithTitle("OK");
    if (nav->topViewController() != details) nav->popViewControllerAnimated(false);
    settle();
  }
}

TEST_F(BrowseTest, DetailsColourTheirSectionsAndQuizActionKeepsTheSwipedCurriculum) {
  reply("GetCurriculums", "[]");
  auto details = showDetails(lecture(3, "Biology"));
  auto table = details->tableView();
  EXPECT_EQ(std::tuple(table->numberOfSections(), nav->navigationBar()->barTintColor().has_value()),
            std::tuple(1, true));
  EXPECT_EQ(details->viewForHeaderInSection(*table, 0)->backgroundColor(), details->lecture()->colors()->primary);
  // Back from a pushed screen the list reloads.
  reply("GetCurriculums", kCurricula);
  nav->pushViewController(std::make_shared<UIViewController>(), false);
  nav->popViewControllerAnimated(false);
  settle();
  EXPECT_EQ(std::tuple(table->numberOfSections(), table->swipeRowAtIndexPath({0, 0}).size()), std::tuple(2, 0u));
  auto actions = table->swipeRowAtIndexPath({1, 0});
  // A reload reorders the list before the tap.
  reply("GetCurriculums", R"([{"id":9,"name":"Genes","description":"d9"},{"id":8,"name":"Cells","description":"d8"}])");
  details->viewWillAppear(false);
  settle();
  reply("GetQuizes", R"([{"id":77,"name":"Q","curriculumId":8,"quizLevel":{"id":4}}])");
  actions.at(0)->trigger({1, 0});
  nav->popViewControllerAnimated(false);
  settle();
  EXPECT_EQ(nlohmann::json::parse(server.lastRequest()->body).value("curriculumId", 0), 8);
  // The reply came after the user went back: nothing is pushed.
  EXPECT_EQ(nav->topViewController(), nav->viewControllers().front());
}

TEST_F(BrowseTest, DetailsHandEachScreenTheLectureAndTheReply) {
  reply("GetCurriculums", kCurricula);
  auto details = showDetails(lecture(3, "Biology"));
  const auto colors = *details->lecture()->colors();
  auto table = details->tableView();
  // The content screen gets the curriculum of the reply, not the row's.
  reply("GetCurriculums", R"([{"id":9,"name":"Genes, all of it","description":"d9","htmlSite":"<p>g</p>"}])");
  table->tapRowAtIndexPath({1, 1});
  settle();
  auto content = std::dynamic_pointer_cast<CurriculumContentViewController>(nav->topViewController());
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(std::tuple(content->lectureId(), content->lectureColor(), content->lectureTextColor(),
                       content->curriculum()->name(), content->curriculum()->content()),
            std::tuple(3, colors.primary, colors.primaryText, "Genes, all of it", "<p>g</p>"));
  reply("GetCurriculums", kCurricula);
  nav->popViewControllerAnimated(false);
  settle();

  reply("GetDocuments", R"([{"id":1,"name":"N","path":"a.pdf","fileName":"a.pdf"}])");
  table->swipeRowAtIndexPath({1, 1}).at(1)->trigger({1, 1});
  settle();
  auto attachments = std::dynamic_pointer_cast<AttachmentViewController>(nav->topViewController());
  ASSERT_NE(attachments, nullptr);
  EXPECT_EQ(attachments->attachments()->at(0)->name(), "N");
  nav->popViewControllerAnimated(false);
  settle();

  // The quiz list is read before its own request, held, can replace what it was handed.
  reply("GetQuizes", R"([{"id":77,"name":"Q","curriculumId":9,"quizLevel":{"id":4}}])");
  auto api = holdCalls();
  table->swipeRowAtIndexPath({1, 1}).at(0)->trigger({1, 1});
  api->release(0);
  time.runUntil([&] { return nav->topViewController() != details; });
  auto list = std::dynamic_pointer_cast<QuizesViewController>(nav->topViewController());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::tuple(list->lectureId(), list->lectureColor(), list->lectureTextColor(), list->curriculumId(),
                       list->quizes().size(), list->quizes().at(0)->id()),
            std::tuple(3, colors.primary, colors.primaryText, 9, 1u, 77));
}

TEST(LectureDetailsCurriculumCellTest, SubtitleTakesTheLinesTheTitleLeaves) {
  // Lines of 12 points: 4 lines hide the subtitle, 5 never go negative, a zero font never divides.
  for (const auto& [height, pointSize, hidden, lines] :
       std::vector<std::tuple<double, double, bool, int>>{{48, 10, true, 0},
                                                          {36, 10, false, 1},
                                                          {12, 10, false, 3},
                                                          {0, 10, false, 4},
                                                          {60, 10, true, 0},
                                                          {30, 0, false, 4}}) {
    LectureDetailsCurriculumCell cell{NSCoder{}};
    auto title = std::make_shared<UILabel>(NSCoder{});
    auto subtitle = std::make_shared<UILabel>(NSCoder{});
    title->setFont(title->font().fontWithSize(pointSize));
    title->setBounds(CGRectMake(0, 0, 100, height));
    cell.curriculumTitleLabel = title;
    cell.curriculumSubtitleLabel = subtitle;
    cell.layoutSubviews();
    EXPECT_EQ(std::tuple(subtitle->isHidden(), hidden ? 0 : subtitle->numberOfLines()), std::tuple(hidden, lines))
        << height << "/" << pointSize;
  }
}

}  // namespace
