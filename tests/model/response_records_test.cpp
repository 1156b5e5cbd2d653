#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "model/achievement_request_entity_type.h"
#include "model/achievement_response.h"
#include "model/curriculum_response.h"
#include "model/document_response.h"
#include "model/lecture_response.h"
#include "model/login_response.h"
#include "model/mappable_array.h"
#include "model/news_response.h"
#include "model/quiz_response.h"
#include "model/quiz_result_response.h"
#include "model/save_quiz_results_response.h"
#include "model/school_response.h"
#include "model/user_profile_response.h"
#include "record_test_support.h"

namespace {

const std::string kSchool =
    R"({"id":5,"universityId":1,"facultyId":2,"departmentId":3,"universityName":"U","facultyName":"F",)"
    R"("departmentName":"D","name":"S"})";
const std::string kAchievement =
    R"({"id":1,"name":"Ace","description":"All right","picture":"/a.png","type":"excelent"})";
const std::string kResult =
    R"({"id":70,"score":1.5,"time":0,"result":3,"dateString":"2016-03-01 14:05:09","version":"1",)"
    R"("answersScore":"1.0;0.5","answersTime":"3;4","maxScore":4,"answersMaxScore":"2;2","quizId":8,)"
    R"("studentId":"u-17","mobileId":0})";

// Each key is read under its own name with its own type, nested records and lists in order.
TEST(ResponseRecordsTest, FullObjectsDecodeEveryField) {
  EXPECT_TRUE(roundTrips<LoginResponse>(R"({"token":"abc","userName":"ana","provider":"basic"})"));
  EXPECT_TRUE(roundTrips<SchoolResponse>(kSchool));
  EXPECT_TRUE(roundTrips<UserProfileResponse>(
      R"({"isConfirmed":true,"firstName":"Ana","lastName":"Vale","id":"u-17","userName":"ana@example.org",)"
      R"("profilePicturePath":"/p/a.png","school":[)" +
      kSchool +
      R"(,{"id":6}],"hasFacebook":false,)"
      R"("hasZedodo":true,"hasPassword":true})"));
  EXPECT_TRUE(roundTrips<LectureResponse>(
      R"({"id":1,"name":"Biology","isDeleted":false,"version":3,"description":"Cells","picture":"/img/b.png",)"
      R"("color":"teal_amber","teacherName":"Dr. K","games":12,"avgResult":0.75,"avgScore":8.5,"avgTime":61.5,)"
      R"("sumScore":96.0,"sumTime":738})"));
  EXPECT_TRUE(roundTrips<CurriculumResponse>(
      R"({"id":4,"name":"Cells","isDeleted":true,"version":1,"description":"d","htmlSite":"<p>x</p>",)"
      R"("picture":"/c.png","lectureId":1,"lectureName":"Biology","games":0,"avgResult":0.25,"avgScore":0.5,)"
      R"("avgTime":2.5,"sumScore":3.5,"sumTime":4})"));
  EXPECT_TRUE(roundTrips<DocumentResponse>(
      R"({"id":9,"name":"Notes","isDeleted":false,"description":"","path":"/docs/a b.pdf","fileName":"a b.pdf",)"
      R"("curriculumId":4})"));
  EXPECT_TRUE(roundTrips<NewsResponse>(
      R"({"id":3,"title":"Exam","description":"Friday","createDate":"2015-10-21 14:05:00","longText":"All day",)"
      R"("lectureId":1,"color":"indigo_pink","lectureName":"Biology"})"));
  EXPECT_TRUE(roundTrips<AchievementResponse>(kAchievement));
  EXPECT_TRUE(roundTrips<QuizResponse>(
      R"({"id":8,"name":"Cells I","description":"Basics","isDeleted":false,"games":3,"avgResult":0.5,)"
      R"("avgScore":4.25,"avgTime":30.5,"sumScore":12.75,"sumTime":90,"quizLevelId":2,)"
      R"("quizLevel":{"id":2,"name":"Normal","two":50,"three":65,"four":80,"five":90},"curriculumId":4,)"
      R"("quizQuestion":[{"id":11,"quizId":8,"isDeleted":false,"questionDataType":"image","type":"oneCorrect",)"
      R"("questionText":"Which?","questionData":"pics/a b.png","order":1,"maxScore":2,"questionAnswer":[)"
      R"({"id":1,"quizQuestionId":11,"isCorrect":false,"answerText":"A","pairText":""},)"
      R"({"id":2,"quizQuestionId":11,"isCorrect":true,"answerText":"B","pairText":"p"},)"
      R"({"id":3,"quizQuestionId":11,"isCorrect":false,"answerText":"C","pairText":""}]},)"
      R"({"id":12,"questionDataType":"text","type":"trueFalse","questionAnswer":[]}]})"));
  EXPECT_TRUE(roundTrips<QuizResultResponse>(kResult));
  EXPECT_TRUE(roundTrips<SaveQuizResultsResponse>(R"({"quizResults":[)" + kResult + R"(],"achievements":[)" +
                                                  kAchievement + "]}"));

  EXPECT_EQ(NewsResponse::decode(R"({"createDate":"2015-10-21 14:05:00"})")->createDate, k20151021_140500);
  EXPECT_EQ(QuizResultResponse::decode(kResult)->date, k20160301_140509);
  EXPECT_EQ(MappableArray<SchoolResponse>::decode("[" + kSchool + "]")[0].name, "S") << "the school list's keys";
}

TEST(ResponseRecordsTest, KindsTravelAsTheBackendsExactTexts) {
  EXPECT_EQ(std::tuple(rawValue(AchievementRequestEntityType::Lecture),
                       rawValue(AchievementRequestEntityType::Curriculum), rawValue(AchievementRequestEntityType::Quiz),
                       rawValue(AchievementResponseType::All), rawValue(AchievementResponseType::Excellent)),
            std::tuple("lecture", "curriculum", "quiz", "all", "excelent"));
  EXPECT_FALSE(enumFromRawValue<AchievementRequestEntityType>("Quiz"));
}

}  // namespace
