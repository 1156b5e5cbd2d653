#include <gtest/gtest.h>

#include "model/achievement_request.h"
#include "model/achievement_request_entity_type.h"
#include "model/achievement_response.h"
#include "model/achievement_response_type.h"
#include "model/mappable_array.h"
#include "model/news_request.h"
#include "model/news_response.h"
#include "model/student_achievement_request.h"
#include "record_test_support.h"

namespace {

TEST(NewsAchievementRecordsTest, EnumerationRawValuesAreExact) {
  EXPECT_EQ(rawValue(AchievementRequestEntityType::Lecture), "lecture");
  EXPECT_EQ(rawValue(AchievementRequestEntityType::Curriculum), "curriculum");
  EXPECT_EQ(rawValue(AchievementRequestEntityType::Quiz), "quiz");
  EXPECT_EQ(rawValue(AchievementResponseType::All), "all");
  EXPECT_EQ(rawValue(AchievementResponseType::Excellent), "excelent");
  EXPECT_EQ(enumFromRawValue<AchievementRequestEntityType>("quiz"), AchievementRequestEntityType::Quiz);
  EXPECT_FALSE(enumFromRawValue<AchievementRequestEntityType>("Quiz"));
}

TEST(NewsAchievementRecordsTest, Requests) {
  EXPECT_EQ(NewsRequest().encode(), "{}");
  EXPECT_EQ(StudentAchievementRequest().encode(), "{}");
  EXPECT_EQ(AchievementRequest().encode(), "{}");

  NewsRequest news;
  news.lectureId = 2;
  news.searchText = "exam";
  EXPECT_EQ(parsedJSON(news.encode()), parsedJSON(R"({"lectureId":2,"searchText":"exam"})"));

  AchievementRequest achievements;
  achievements.entityType = AchievementRequestEntityType::Curriculum;
  achievements.id = 5;
  EXPECT_EQ(parsedJSON(achievements.encode()), parsedJSON(R"({"entityType":"curriculum","id":5})"));

  StudentAchievementRequest student;
  student.lectureId = 1;
  student.pageNumber = 2;
  student.pageSize = 3;
  EXPECT_EQ(parsedJSON(student.encode()), parsedJSON(R"({"lectureId":1,"pageNumber":2,"pageSize":3})"));
}

TEST(NewsAchievementRecordsTest, NewsResponse) {
  const char* full =
      R"({"id":3,"title":"Exam","description":"Friday","createDate":"2015-10-21 14:05:00","longText":"All day",)"
      R"("lectureId":1,"color":"indigo_pink","lectureName":"Biology"})";
  EXPECT_TRUE(roundTrips<NewsResponse>(full));
  EXPECT_EQ(NewsResponse::decode(full)->createDate, k20151021_140500);

  const auto news = MappableArray<NewsResponse>::decode(
      R"([{"id":4,"createDate":"2015-10-21T14:05:00","color":"mauve"},{"id":5,"createDate":"2015-10-21"}])");
  ASSERT_EQ(news.size(), 2u);
  EXPECT_EQ(news[0].id, 4);
  EXPECT_FALSE(news[0].createDate);
  EXPECT_EQ(news[0].color, "mauve");
  EXPECT_FALSE(news[0].title);
  EXPECT_EQ(news[1].id, 5);
  EXPECT_FALSE(news[1].createDate);
}

TEST(NewsAchievementRecordsTest, AchievementResponseTypeMatchesTheBackendSpelling) {
  EXPECT_TRUE(roundTrips<AchievementResponse>(
      R"({"id":1,"name":"Ace","description":"All right","picture":"/a.png","type":"excelent"})"));
  const auto achievements = MappableArray<AchievementResponse>::decode(
      R"([{"id":1,"name":"Ace","description":"All right","picture":"/a.png","type":"excelent"},)"
      R"({"id":2,"type":"all"},{"id":3,"type":"excellent"},{"id":4,"type":"Excelent"},{"id":5,"type":1},)"
      R"({"id":6,"pictureUrl":"/b.png","type":"ALL"}])");
  ASSERT_EQ(achievements.size(), 6u);
  EXPECT_EQ(achievements[0].type, AchievementResponseType::Excellent);
  EXPECT_EQ(achievements[1].type, AchievementResponseType::All);
  for (std::size_t i = 2; i < achievements.size(); ++i) {
    EXPECT_FALSE(achievements[i].type) << i;
    EXPECT_EQ(achievements[i].id, static_cast<std::int64_t>(i + 1));
  }
  EXPECT_FALSE(achievements[5].pictureUrl);
}

}  // namespace
