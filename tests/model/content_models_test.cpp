#include <gtest/gtest.h>

#include <tuple>

#include "model/achievement.h"
#include "model/attachment.h"
#include "model/curriculum.h"
#include "model/lecture.h"
#include "model/news.h"
#include "model_url_fixture.h"
#include "record_test_support.h"

namespace {

template <class Model, class Record>
std::shared_ptr<Model> made(std::string_view text) {
  return Model::init(Record::decode(text).value_or(Record{}));
}

using ContentModelsTest = ModelUrlFixture;

TEST_F(ContentModelsTest, EachModelNeedsItsRequiredValues) {
  EXPECT_TRUE(
      (needsEachOf<News, NewsResponse>(R"({"id":4,"createDate":"2015-10-21 14:05:00"})", {"id", "createDate"})));
  EXPECT_TRUE((needsEachOf<Lecture, LectureResponse>(R"({"id":1,"name":"B","description":"d","color":"red"})",
                                                     {"id", "name", "description", "color"})));
  EXPECT_TRUE((needsEachOf<Curriculum, CurriculumResponse>(R"({"id":2,"name":"C","description":"d"})",
                                                           {"id", "name", "description"})));
  EXPECT_TRUE((needsEachOf<Achievement, AchievementResponse>(R"({"id":3,"name":"A","description":"d"})",
                                                             {"id", "name", "description"})));
  EXPECT_TRUE((needsEachOf<Attachment, DocumentResponse>(R"({"id":5,"name":"N","path":"p","fileName":"f"})",
                                                         {"id", "name", "path", "fileName"})));
}

TEST_F(ContentModelsTest, NewsAndLecturesResolveTheirThemeWhenItExists) {
  auto news = made<News, NewsResponse>(
      R"({"id":4,"createDate":"2015-10-21 14:05:00","color":"teal_amber","title":"T","description":"D",)"
      R"("longText":"L"})");
  ASSERT_TRUE(news);
  EXPECT_EQ(std::tuple(news->id(), news->date(), news->colors(), news->title(), news->description(), news->content()),
            std::tuple(4, k20151021_140500, Color::themeNamed("teal_amber"), "T", "D", "L"));
  auto bare = made<News, NewsResponse>(R"({"id":4,"createDate":"2015-10-21 14:05:00","color":"Teal"})");
  EXPECT_FALSE(bare->colors());
  // Colours set by hand are the item's own; the theme's stay as they were.
  Color custom = *Color::themeNamed("teal_amber");
  custom.primary = UIColor::redColor();
  bare->setColors(custom);
  news->setColors(std::nullopt);
  EXPECT_EQ(std::tuple(bare->colors(), news->colors(), Color::themeNamed("teal_amber")->primary),
            std::tuple(std::optional(custom), std::optional<Color>(), colorWithHexRGBString("009688")));
  EXPECT_FALSE(bare->title() || bare->description() || bare->content());

  auto lecture = made<Lecture, LectureResponse>(R"({"id":1,"name":"Bio","description":"d","color":"indigo_pink"})");
  EXPECT_EQ(lecture->name(), "Bio");
  EXPECT_EQ(lecture->colors(), Color::themeNamed("indigo_pink"));
  EXPECT_FALSE((made<Lecture, LectureResponse>(R"({"id":1,"name":"B","description":"d","color":"red"})")->colors()));
  // A record the caller keeps is copied, not emptied; hand-set colours leave the theme alone.
  const auto record = *LectureResponse::decode(
      R"({"id":2,"name":"Organic chemistry, part two","description":"Acids, bases and salts","color":"teal_amber"})");
  auto kept = Lecture::init(record);
  Color own = *kept->colors();
  own.primaryText = UIColor::redColor();
  kept->setColors(own);
  EXPECT_EQ(std::tuple(kept->name(), kept->description(), kept->colors(), Lecture::init(record)->colors()),
            std::tuple(*record.name, *record.description, std::optional(own), Color::themeNamed("teal_amber")));
  EXPECT_EQ(*record.name, "Organic chemistry, part two");
  EXPECT_EQ(urlBuilds, 0);
}

// A lecture's colours go from the theme's to its own and back: the theme stays whole and usable
// by the next lecture, and colours set by hand go with the lecture.
TEST_F(ContentModelsTest, ALecturesOwnColoursReplaceTheThemesWithoutTouchingIt) {
  const auto theme = Color::themeNamed("teal_amber");
  Color own = *theme;
  own.secondary = UIColor::redColor();
  for (int round = 0; round < 2; ++round) {
    auto lecture = made<Lecture, LectureResponse>(R"({"id":1,"name":"B","description":"d","color":"teal_amber"})");
    lecture->setColors(own);
    lecture->setColors(*theme);
    EXPECT_EQ(lecture->colors(), theme);
    lecture->setColors(std::nullopt);
    EXPECT_FALSE(lecture->colors());
    lecture->setColors(own);
    EXPECT_EQ(lecture->colors(), own);
  }
  auto next = made<Lecture, LectureResponse>(R"({"id":2,"name":"C","description":"d","color":"teal_amber"})");
  EXPECT_EQ(next->colors(), theme);
}

TEST_F(ContentModelsTest, PicturePathsAskTheBuilderOnlyWhenPresent) {
  auto curriculum =
      made<Curriculum, CurriculumResponse>(R"({"id":2,"name":"C","description":"d","htmlSite":"<p>x</p>"})");
  EXPECT_EQ(curriculum->content(), "<p>x</p>");
  EXPECT_FALSE(curriculum->pictureUrl());
  EXPECT_FALSE((made<Achievement, AchievementResponse>(R"({"id":3,"name":"A","description":"d"})")->pictureUrl()));
  EXPECT_EQ(urlBuilds, 0);

  EXPECT_EQ(
      std::tuple(
          made<Lecture, LectureResponse>(R"({"id":1,"name":"B","description":"d","color":"x","picture":"l.png"})")
              ->pictureUrl(),
          made<Achievement, AchievementResponse>(R"({"id":3,"name":"A","description":"d","picture":""})")->pictureUrl(),
          made<Curriculum, CurriculumResponse>(R"({"id":2,"name":"C","description":"d","picture":"/p.png"})")
              ->pictureUrl()),
      std::tuple(std::string(kBase) + "l.png", kBase, std::string(kBase) + "/p.png"));
  EXPECT_EQ(urlBuilds, 3);
}

TEST_F(ContentModelsTest, DocumentUrlsArePercentEncodedAsAWhole) {
  auto document = [](std::string_view path) {
    return made<Attachment, DocumentResponse>(std::string(R"({"id":5,"name":"N","fileName":"f.pdf","path":)") +
                                              std::string(path) + "}");
  };
  auto spaced = document(R"("docs/a b.pdf?x=1&y=2")");
  EXPECT_EQ(std::tuple(spaced->url(), spaced->fileName()),
            std::tuple(std::string("https://backend.test/Brevant/docs/a%20b.pdf?x=1&y=2"), std::string("f.pdf")));
  EXPECT_EQ(document(R"("a%20b")")->url(), "https://backend.test/Brevant/a%2520b");
  EXPECT_EQ(document(R"("é#[]")")->url(), "https://backend.test/Brevant/%C3%A9%23%5B%5D");
}

TEST(ModelUrlBuilderDeathTest, BuildingWithoutABuilderStops) {
  ModelUrlBuilder::install(nullptr);
  EXPECT_DEATH((made<Achievement, AchievementResponse>(R"({"id":3,"name":"A","description":"d","picture":"p"})")),
               "no URL builder");
}

}  // namespace
