#include <fmt/format.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/text_utilities.h"
#include "browse/attachment_view_controller.h"
#include "browse/curriculum_content_view_controller.h"
#include "browse/quizes_view_controller.h"
#include "browse_fixture.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_label.h"
#include "support/temp_dir.h"

namespace {

std::shared_ptr<Curriculum> curriculum(const std::optional<std::string>& content) {
  nlohmann::json record = {{"id", 8}, {"name", "Cells"}, {"description", "d"}};
  if (content) record["htmlSite"] = *content;
  return Curriculum::init(*CurriculumResponse::decode(record.dump()));
}

const std::vector<URL>& opened() { return UIApplication::sharedApplication()->openedURLs(); }

class ContentTest : public BrowseTest {
 protected:
  // The content screen of `page` pushed over a plain screen.
  std::shared_ptr<CurriculumContentViewController> open(const std::optional<std::string>& page,
                                                        std::optional<std::int64_t> lectureId = 4,
                                                        std::optional<UIColor> color = std::nullopt,
                                                        std::optional<UIColor> textColor = std::nullopt) {
    auto screen = std::dynamic_pointer_cast<CurriculumContentViewController>(scene("curriculumContentViewController"));
    screen->setLectureId(lectureId);
    screen->setLectureColor(color);
    screen->setLectureTextColor(textColor);
    screen->setCurriculum(curriculum(page));
    show(std::make_shared<UIViewController>());
    nav->pushViewController(screen, false);
    time.runUntilIdle();
    return screen;
  }
  std::shared_ptr<UIAlertController> alert() const {
    return std::dynamic_pointer_cast<UIAlertController>(nav->presentedViewController());
  }
};

TEST_F(ContentTest, PageIsTheStyleSheetTheViewportHeaderAndTheContentAsWritten) {
  // The shipped style sheet wraps itself in <style>: none of it shows as page text.
  auto screen = open("<p>abc</p>");
  const auto& shipped = screen->webView()->loadedHTMLString();
  ASSERT_TRUE(shipped);
  EXPECT_TRUE(shipped->html.starts_with("<style type=\"text/css\">")) << shipped->html;
  EXPECT_TRUE(shipped->html.ends_with("</style>\n" + htmlViewportHeader() + "<p>abc</p>")) << shipped->html;
  EXPECT_EQ(screen->webView()->document().lines, std::vector<std::string>{"abc"});

  TempDir withSheet("content_css");
  std::ofstream(withSheet.path() / CurriculumContentViewController::kStyleSheet) << "\xEF\xBB\xBFp { }";
  TempDir withoutSheet("content_no_css");
  struct Case {
    const TempDir& resources;
    std::optional<std::string> content;
    std::optional<std::string> loaded;  // nothing: no load at all
  };
  const std::vector<Case> cases = {
      {withSheet, "abc", "p { }" + htmlViewportHeader() + "abc"},
      {withSheet, "", "p { }" + htmlViewportHeader()},
      {withoutSheet, "abc", htmlViewportHeader() + "abc"},
      {withSheet, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    Bundle::setMainResourcePath(c.resources.str());
    screen = open(c.content);
    const auto& loaded = screen->webView()->loadedHTMLString();
    EXPECT_EQ(loaded ? std::optional(loaded->html) : std::nullopt, c.loaded);
    EXPECT_FALSE(loaded && loaded->baseURL);
    // Titles and the link rule are set whatever the content.
    EXPECT_EQ(std::tuple(screen->navigationItem()->title(), screen->quizBarButton.lock()->title(),
                         screen->webView()->navigationDelegate()),
              std::tuple("Cells", NSLocalizedString("curriculumcontent_quiz_button_title"),
                         std::static_pointer_cast<WKNavigationDelegate>(screen)));
  }

  // The page fills the root view from its top, pinned edge by edge.
  auto webView = screen->webView();
  std::vector<NSLayoutAttribute> pinned;
  for (const auto& constraint : screen->view()->constraints()) {
    if (constraint->firstItem() == webView && constraint->secondItem() == screen->view() &&
        constraint->secondAttribute() == constraint->firstAttribute())
      pinned.push_back(constraint->firstAttribute());
  }
  using enum NSLayoutAttribute;
  EXPECT_EQ(pinned, (std::vector{Leading, Trailing, Top, Bottom}));
  EXPECT_FALSE(webView->translatesAutoresizingMaskIntoConstraints());
}

TEST_F(ContentTest, LinksOpenOutsideTheRestOfTheNavigationGoesOn) {
  auto screen = open("<p><a href='https://example.org/more'>more</a></p>");
  auto webView = screen->webView();
  ASSERT_TRUE(webView->tapLink(1));
  time.runUntilIdle();
  EXPECT_EQ(std::tuple(opened().size(), webView->url()->absoluteString()), std::tuple(1u, "about:blank"));
  EXPECT_EQ(opened().at(0).absoluteString(), "https://example.org/more");

  // A link without an address is cancelled and opens nothing; anything but a link goes on.
  const auto form = URLRequest(*URL::URLWithString("https://example.org/form"));
  for (const auto& [action, policy] : std::vector<std::tuple<WKNavigationAction, WKNavigationActionPolicy>>{
           {{URLRequest(), WKNavigationType::LinkActivated}, WKNavigationActionPolicy::Cancel},
           {{form, WKNavigationType::FormSubmitted}, WKNavigationActionPolicy::Allow},
           {{form, WKNavigationType::Other}, WKNavigationActionPolicy::Allow},
           {{form, WKNavigationType::Reload}, WKNavigationActionPolicy::Allow}}) {
    std::optional<WKNavigationActionPolicy> decided;
    screen->decidePolicyForNavigationAction(*webView, action,
                                            [&](WKNavigationActionPolicy answer) { decided = answer; });
    EXPECT_EQ(decided, policy) << static_cast<int>(action.navigationType);
  }
  EXPECT_EQ(opened().size(), 1u);
}

TEST_F(ContentTest, QuizButtonOpensTheCurriculumsQuizesWithTheColoursOnlyInPairs) {
  const std::string quizes = R"([{"id":77,"name":"Q","curriculumId":8,"quizLevel":{"id":4}}])";
  reply("GetBestQuizResults", "[]");
  struct Case {
    std::string reply;
    std::optional<std::int64_t> lectureId;
    std::optional<UIColor> color, textColor;
    std::string outcome;
  };
  const auto red = UIColor::redColor(), white = UIColor::whiteColor();
  const std::vector<Case> cases = {
      {"[]", 4, red, white, "There is no quiz for this curriculum."},
      {R"({"errorMessage":"gone"})", 4, red, white, "gone"},
      {quizes, 4, red, white, "lecture 4, curriculum 8, colours both, quizzes 77"},
      {quizes, std::nullopt, red, std::nullopt, "lecture -, curriculum 8, colours none, quizzes 77"},
      {quizes, 4, std::nullopt, white, "lecture 4, curriculum 8, colours none, quizzes 77"},
  };
  for (const auto& c : cases) {
    auto screen = open("abc", c.lectureId, c.color, c.textColor);
    reply("GetQuizes", c.reply, c.reply.starts_with("{") ? 400 : 200);
    auto api = holdCalls();
    ASSERT_TRUE(screen->quizBarButton.lock()->tap());
    ASSERT_EQ(api->held.size(), 1u);
    api->release(0);
    time.runUntil([&] { return alert() || nav->topViewController() != screen; });
    // Only the curriculum is asked for.
    auto body = nlohmann::json::parse(server.lastRequest()->body);
    EXPECT_EQ(std::tuple(body.value("curriculumId", 0), body["lectureId"].is_null()), std::tuple(8, true));
    std::string outcome;
    if (alert()) {
      EXPECT_EQ(ProgressIndicatorHelper::instance()->timer(), nullptr);
      outcome = alert()->title().value_or("-");
    } else if (auto list = std::dynamic_pointer_cast<QuizesViewController>(nav->topViewController())) {
      // Read before the list's own request (held) can replace what it was handed.
      const bool both = list->lectureColor() == red && list->lectureTextColor() == white;
      const bool none = !list->lectureColor() && !list->lectureTextColor();
      outcome =
          fmt::format("lecture {}, curriculum {}, colours {}, quizzes {}",
                      list->lectureId() ? std::to_string(*list->lectureId()) : "-", list->curriculumId().value_or(0),
                      both   ? "both"
                      : none ? "none"
                             : "one",
                      list->quizes().size() == 1 ? list->quizes()[0]->id() : 0);
    }
    EXPECT_EQ(outcome, c.outcome);
  }
}

TEST_F(ContentTest, QuizReplyAfterTheUserWentBackPushesNothingAndHidesTheOverlay) {
  reply("GetQuizes", R"([{"id":77,"name":"Q","curriculumId":8,"quizLevel":{"id":4}}])");
  auto screen = open("abc");
  auto api = holdCalls();
  screen->quizBarButton.lock()->tap();
  time.advance(1);
  EXPECT_TRUE(ProgressIndicatorHelper::instance()->isShown());
  nav->popViewControllerAnimated(false);
  api->release(0);
  settle();
  EXPECT_EQ(std::tuple(nav->viewControllers().size(), ProgressIndicatorHelper::instance()->isShown()),
            std::tuple(1u, false));
}

class AttachmentTest : public BrowseTest {};

TEST_F(AttachmentTest, RowsShowNameAndFileAndATapOpensWhatTheSystemCan) {
  UIApplication::sharedApplication()->setHandledURLSchemes({"https"});
  std::vector<std::shared_ptr<Attachment>> attachments;
  for (const auto& [name, url] :
       std::vector<std::tuple<std::string, std::optional<std::string>>>{{"Notes", "https://example.org/notes.pdf"},
                                                                        {"Nowhere", std::nullopt},
                                                                        {"Spaced", "https://exa mple.org/a.pdf"},
                                                                        {"Old", "ftp://example.org/old.pdf"}}) {
    auto attachment = Attachment::init(
        *DocumentResponse::decode(fmt::format(R"({{"id":1,"name":"{}","path":"p","fileName":"{}.pdf"}})", name, name)));
    attachment->setUrl(url);
    attachments.push_back(attachment);
  }
  auto screen = std::dynamic_pointer_cast<AttachmentViewController>(scene("attachmentViewController"));
  screen->setAttachments(attachments);
  show(screen);
  time.runUntilIdle();
  auto table = screen->tableView.lock();
  std::string rows;
  for (int i = 0; i < table->numberOfRowsInSection(0); ++i) {
    auto cell = table->cellForRowAtIndexPath({0, i});
    rows += *cell->textLabel()->text() + " " + *cell->detailTextLabel()->text() + "|";
  }
  EXPECT_EQ(std::tuple(screen->navigationItem()->title(), table->numberOfSections(), rows),
            std::tuple("Attachments", 1, "Notes Notes.pdf|Nowhere Nowhere.pdf|Spaced Spaced.pdf|Old Old.pdf|"));

  std::string outcomes;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(table->tapRowAtIndexPath({0, i}));
    time.runUntilIdle();
    auto alert = std::dynamic_pointer_cast<UIAlertController>(nav->presentedViewController());
    outcomes += (alert ? alert->title().value_or("-") : "opened " + std::to_string(opened().size())) + "|";
    if (alert) alert->tapActionWithTitle("OK");
    time.runUntilIdle();
  }
  EXPECT_EQ(outcomes, "opened 1|" + NSLocalizedString("attachment_url_error") + "|" +
                          NSLocalizedString("attachment_url_error") + "|" + NSLocalizedString("attachment_type_error") +
                          "|");
  EXPECT_EQ(opened().at(0).absoluteString(), "https://example.org/notes.pdf");
}

}  // namespace
