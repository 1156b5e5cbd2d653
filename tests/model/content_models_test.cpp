#include <gtest/gtest.h>

#include "model/achievement.h"
#include "model/attachment.h"
#include "model/curriculum.h"
#include "model/lecture.h"
#include "model/news.h"
#include "model_url_fixture.h"
#include "record_test_support.h"

namespace {

template <class Record>
Record decoded(std::string_view text) {
  auto record = Record::decode(text);
  EXPECT_TRUE(record) << text;
  return record.value_or(Record{});
}

using ContentModelsTest = ModelUrlFixture;

TEST_F(ContentModelsTest, NewsNeedsIdAndDateAndResolvesItsTheme) {
  auto news = News::init(decoded<NewsResponse>(
      R"({"id":4,"createDate":"2015-10-21 14:05:00","color":"teal_amber","title":"T","description":"D",)"
      R"("longText":"L","lectureId":9})"));
  ASSERT_TRUE(news);
  EXPECT_EQ(news->id(), 4);
  EXPECT_EQ(news->date(), k20151021_140500);
  EXPECT_EQ(news->colors(), Color::themeNamed("teal_amber"));
  EXPECT_EQ(news->title(), "T");
  EXPECT_EQ(news->description(), "D");
  EXPECT_EQ(news->content(), "L");

  auto bare = News::init(decoded<NewsResponse>(R"({"id":4,"createDate":"2015-10-21 14:05:00","color":"Teal"})"));
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->colors());
  EXPECT_FALSE(bare->title());
  EXPECT_FALSE(bare->description());
  EXPECT_FALSE(bare->content());

  EXPECT_FALSE(News::init(decoded<NewsResponse>(R"({"id":4})")));
  EXPECT_FALSE(News::init(decoded<NewsResponse>(R"({"id":4,"createDate":"2015-10-21T14:05:00Z"})")));
  EXPECT_FALSE(News::init(decoded<NewsResponse>(R"({"createDate":"2015-10-21 14:05:00"})")));
  EXPECT_EQ(urlBuilds, 0);
}

TEST_F(ContentModelsTest, LectureNeedsAColourNameButNotAKnownOne) {
  auto lecture = Lecture::init(decoded<LectureResponse>(
      R"({"id":1,"name":"Bio","description":"d","color":"indigo_pink","picture":"img/l.png"})"));
  ASSERT_TRUE(lecture);
  EXPECT_EQ(lecture->name(), "Bio");
  EXPECT_EQ(lecture->pictureUrl(), "https://backend.test/Brevant/img/l.png");
  EXPECT_EQ(lecture->colors(), Color::themeNamed("indigo_pink"));

  auto unknown = Lecture::init(decoded<LectureResponse>(R"({"id":1,"name":"Bio","description":"d","color":"red"})"));
  ASSERT_TRUE(unknown);
  EXPECT_FALSE(unknown->colors());
  EXPECT_FALSE(unknown->pictureUrl());

  EXPECT_FALSE(Lecture::init(decoded<LectureResponse>(R"({"id":1,"name":"Bio","description":"d"})")));
  EXPECT_FALSE(Lecture::init(decoded<LectureResponse>(R"({"id":1,"name":"Bio","color":"red"})")));
  EXPECT_FALSE(Lecture::init(decoded<LectureResponse>(R"({"id":"1","name":"Bio","description":"d","color":"red"})")));
  EXPECT_EQ(urlBuilds, 1);
}

TEST_F(ContentModelsTest, PicturePathsAskTheBuilderOnlyWhenPresent) {
  auto curriculum = Curriculum::init(
      decoded<CurriculumResponse>(R"({"id":2,"name":"C","description":"d","htmlSite":"<p>x</p>"})"));
  ASSERT_TRUE(curriculum);
  EXPECT_EQ(curriculum->content(), "<p>x</p>");
  EXPECT_FALSE(curriculum->pictureUrl());
  EXPECT_EQ(urlBuilds, 0);

  auto emptyPath = Achievement::init(decoded<AchievementResponse>(R"({"id":3,"name":"A","description":"d","picture":""})"));
  ASSERT_TRUE(emptyPath);
  EXPECT_EQ(emptyPath->pictureUrl(), kBase);
  auto slashed = Curriculum::init(decoded<CurriculumResponse>(R"({"id":2,"name":"C","description":"d","picture":"/p.png"})"));
  ASSERT_TRUE(slashed);
  EXPECT_EQ(slashed->pictureUrl(), std::string(kBase) + "/p.png");
  EXPECT_EQ(urlBuilds, 2);

  EXPECT_FALSE(Curriculum::init(decoded<CurriculumResponse>(R"({"id":2,"name":"C","picture":"p"})")));
  EXPECT_FALSE(Achievement::init(decoded<AchievementResponse>(R"({"name":"A","description":"d"})")));
}

TEST_F(ContentModelsTest, DocumentUrlsArePercentEncodedAsAWhole) {
  auto document = [](std::string_view path) {
    return Attachment::init(decoded<DocumentResponse>(
        std::string(R"({"id":5,"name":"N","fileName":"f.pdf","path":)") + std::string(path) + "}"));
  };
  auto spaced = document(R"("docs/a b.pdf?x=1&y=2")");
  ASSERT_TRUE(spaced);
  EXPECT_EQ(spaced->url(), "https://backend.test/Brevant/docs/a%20b.pdf?x=1&y=2");
  EXPECT_EQ(spaced->fileName(), "f.pdf");
  EXPECT_EQ(document(R"("a%20b")")->url(), "https://backend.test/Brevant/a%2520b");
  EXPECT_EQ(document(R"("é#[]")")->url(), "https://backend.test/Brevant/%C3%A9%23%5B%5D");

  EXPECT_FALSE(document("null"));
  EXPECT_FALSE(Attachment::init(decoded<DocumentResponse>(R"({"id":5,"name":"N","path":"p"})")));
}

TEST(ModelUrlBuilderDeathTest, BuildingWithoutABuilderStops) {
  ModelUrlBuilder::install(nullptr);
  LectureResponse record;
  record.id = 1;
  record.name = "n";
  record.description = "d";
  record.color = "red";
  record.pictureUrl = "p";
  EXPECT_DEATH(Lecture::init(record), "no URL builder");
}

}  // namespace
