#include <gtest/gtest.h>

#include <string>

#include "model/best_quiz_result_request.h"
#include "model/mappable_array.h"
#include "model/quiz_request.h"
#include "model/quiz_response.h"
#include "model/quiz_result_request.h"
#include "model/quiz_result_response.h"
#include "model/save_quiz_results_request.h"
#include "model/save_quiz_results_response.h"
#include "record_test_support.h"

namespace {

TEST(QuizRecordsTest, QuizRequests) {
  EXPECT_EQ(QuizRequest().encode(), "{}");
  QuizRequest single;
  single.id = 42;
  single.all = true;
  EXPECT_EQ(parsedJSON(single.encode()), parsedJSON(R"({"quizId":42,"all":true})"));

  QuizRequest list;
  list.lectureId = 5;
  list.all = false;
  EXPECT_EQ(parsedJSON(list.encode()), parsedJSON(R"({"lectureId":5,"all":false})"));
  list.curriculumId = 6;
  list.name = "n";
  list.pageNumber = 1;
  list.pageSize = 2;
  EXPECT_EQ(
      parsedJSON(list.encode()),
      parsedJSON(R"({"lectureId":5,"all":false,"curriculumId":6,"name":"n","pageNumber":1,"pageSize":2})"));
}

TEST(QuizRecordsTest, QuizWithLevelQuestionsAndAnswers) {
  const std::string quiz =
      R"({"id":8,"name":"Cells I","description":"Basics","isDeleted":false,"games":3,"avgResult":0.5,)"
      R"("avgScore":4.25,"avgTime":30,"sumScore":12.75,"sumTime":90,"quizLevelId":2,)"
      R"("quizLevel":{"id":2,"name":"Normal","two":50,"three":65,"four":80,"five":90},"curriculumId":4,)"
      R"("quizQuestion":[{"id":11,"quizId":8,"isDeleted":false,"questionDataType":"image","type":"oneCorrect",)"
      R"("questionText":"Which?","questionData":"pics/a b.png","order":1,"maxScore":2,"questionAnswer":[)"
      R"({"id":1,"quizQuestionId":11,"isCorrect":false,"answerText":"A","pairText":""},)"
      R"({"id":2,"quizQuestionId":11,"isCorrect":true,"answerText":"B","pairText":"p"},)"
      R"({"id":3,"quizQuestionId":11,"isCorrect":false,"answerText":"C","pairText":""}]},)"
      R"({"id":12,"questionDataType":"text","type":"trueFalse","questionAnswer":[]}]})";
  EXPECT_TRUE(roundTrips<QuizResponse>(quiz));

  const auto quizzes = MappableArray<QuizResponse>::decode("[" + quiz + "]");
  ASSERT_EQ(quizzes.size(), 1u);
  ASSERT_EQ(quizzes[0].question->size(), 2u);
  const QuizQuestionResponse& first = (*quizzes[0].question)[0];
  ASSERT_EQ(first.answer->size(), 3u);
  EXPECT_EQ((*first.answer)[0].answerText, "A");
  EXPECT_EQ((*first.answer)[1].answerText, "B");
  EXPECT_EQ((*first.answer)[2].answerText, "C");
  const QuizQuestionResponse& second = (*quizzes[0].question)[1];
  EXPECT_FALSE(second.data);
  ASSERT_TRUE(second.answer);
  EXPECT_TRUE(second.answer->empty());
  EXPECT_FALSE(QuizQuestionResponse::decode(R"({"id":1,"questionData":null})")->data);
}

TEST(QuizRecordsTest, QuizListWithoutQuestionsOrLevel) {
  const auto quizzes = MappableArray<QuizResponse>::decode(
      R"([{"id":1,"name":"a"},{"id":2,"quizLevel":{"id":3},"avgTime":"x"}])");
  ASSERT_EQ(quizzes.size(), 2u);
  EXPECT_FALSE(quizzes[0].question);
  EXPECT_FALSE(quizzes[0].quizLevel);
  EXPECT_FALSE(quizzes[0].games);
  EXPECT_FALSE(quizzes[1].question);
  ASSERT_TRUE(quizzes[1].quizLevel);
  EXPECT_EQ(quizzes[1].quizLevel->id, 3);
  EXPECT_FALSE(quizzes[1].quizLevel->name);
  EXPECT_FALSE(quizzes[1].avgTime);
}

TEST(QuizRecordsTest, UploadOfResults) {
  SaveQuizResultsRequest upload;
  upload.quizId = 8;
  upload.score = 1.5;
  upload.time = 0;
  upload.answersScore = "1.0000;0.5000";
  upload.maxScore = 4;
  upload.mobileId = 0;
  upload.date = k20160301_140509;
  upload.questionsId = "11;12";
  upload.quizLevelId = 2;
  const nlohmann::json expected = parsedJSON(
      R"({"quizId":8,"score":1.5,"time":0,"answersScore":"1.0000;0.5000","maxScore":4,"mobileId":0,)"
      R"("date":"2016-03-01 14:05:09","questionsId":"11;12","quizLevelId":2})");
  EXPECT_EQ(parsedJSON(upload.encode()), expected);

  SaveQuizResultsRequest other;
  other.quizId = 9;
  const std::string body = MappableArray<SaveQuizResultsRequest>({upload, other}).encode();
  const nlohmann::json list = parsedJSON(body);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], expected);
  EXPECT_EQ(list[1], parsedJSON(R"({"quizId":9})"));
}

TEST(QuizRecordsTest, StoredResults) {
  const char* full =
      R"({"id":70,"score":1.5,"time":0,"result":3,"dateString":"2016-03-01 14:05:09","version":"1",)"
      R"("answersScore":"1.0;0.5","answersTime":"3;4","maxScore":4,"answersMaxScore":"2;2","quizId":8,)"
      R"("studentId":"u-17","mobileId":0})";
  EXPECT_TRUE(roundTrips<QuizResultResponse>(full));
  EXPECT_EQ(QuizResultResponse::decode(full)->date, k20160301_140509);

  const auto reply = SaveQuizResultsResponse::decode(
      std::string(R"({"quizResults":[)") + full +
      R"(,{"id":71,"dateString":"2016-03-01T14:05:09+01:00","score":2,"studentId":"u-17"}],"achievements":[]})");
  ASSERT_TRUE(reply);
  ASSERT_TRUE(reply->achievements);
  EXPECT_TRUE(reply->achievements->empty());
  ASSERT_EQ(reply->quizResults->size(), 2u);
  const QuizResultResponse& isoDate = (*reply->quizResults)[1];
  EXPECT_FALSE(isoDate.date);
  EXPECT_EQ(isoDate.id, 71);
  EXPECT_EQ(isoDate.score, 2.0);
  EXPECT_EQ(isoDate.studentId, "u-17");

  EXPECT_FALSE(SaveQuizResultsResponse::decode("{}")->quizResults);
  EXPECT_FALSE(SaveQuizResultsResponse::decode("[]"));
}

TEST(QuizRecordsTest, ResultQueries) {
  EXPECT_EQ(QuizResultRequest().encode(), "{}");
  EXPECT_EQ(BestQuizResultRequest().encode(), "{}");

  BestQuizResultRequest best;
  best.curriculumId = 7;
  EXPECT_EQ(parsedJSON(best.encode()), parsedJSON(R"({"curriculumId":7})"));
  best.quizId = 1;
  best.lectureId = 2;
  EXPECT_EQ(parsedJSON(best.encode()), parsedJSON(R"({"curriculumId":7,"quizId":1,"lectureId":2})"));

  QuizResultRequest results;
  results.quizId = 8;
  results.lectureId = 1;
  results.date = k20151021_140500;
  EXPECT_EQ(parsedJSON(results.encode()),
            parsedJSON(R"({"quizId":8,"lectureId":1,"date":"2015-10-21 14:05:00"})"));
}

}  // namespace
