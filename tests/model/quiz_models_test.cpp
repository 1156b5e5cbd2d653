#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "model/quiz.h"
#include "record_test_support.h"

namespace {

std::shared_ptr<QuizQuestion> question(const std::string& fields) {
  auto record = QuizQuestionResponse::decode("{" + fields + "}");
  EXPECT_TRUE(record);
  return record ? QuizQuestion::init(*record) : nullptr;
}

std::string withData(const std::string& dataType, const std::string& data) {
  return R"("id":1,"type":"oneCorrect","questionText":"Q","maxScore":3,"questionAnswer":[],"questionDataType":")" +
         dataType + R"(","questionData":)" + data;
}

TEST(QuizKindsTest, RawValuesAreExact) {
  EXPECT_EQ(std::tuple(rawValue(QuizQuestionDataType::audio), rawValue(QuizQuestionDataType::video),
                       rawValue(QuizQuestionDataType::text), rawValue(QuizQuestionDataType::image),
                       rawValue(QuizQuestionType::trueFalse), rawValue(QuizQuestionType::moreCorrect)),
            std::tuple("sound", "video", "text", "image", "trueFalse", "moreCorrect"));
  EXPECT_EQ(enumFromRawValue<QuizQuestionDataType>("sound"), QuizQuestionDataType::audio);
  for (const char* text : {"audio", "Sound", "sound ", ""})
    EXPECT_FALSE(enumFromRawValue<QuizQuestionDataType>(text)) << text;
  EXPECT_FALSE(enumFromRawValue<QuizQuestionType>("onecorrect"));
}

TEST(QuizModelsTest, DataIsEncodedExceptForTextMaterial) {
  EXPECT_EQ(question(withData("text", R"("a b%")"))->data(), "a b%");
  EXPECT_EQ(question(withData("image", R"("pics/a b.png")"))->data(), "pics/a%20b.png");
  EXPECT_EQ(question(withData("sound", R"("http://h:1/a?b=c%d é")"))->data(), "http://h:1/a?b=c%25d%20%C3%A9");
  EXPECT_FALSE(question(withData("video", "null"))->data());
  EXPECT_FALSE(question(withData("text", "null"))->data());
}

TEST(QuizModelsTest, QuestionsKeepAnswerOrderAndRefuseMissingValues) {
  const std::string base = R"("id":7,"type":"moreCorrect","questionText":"Q","questionDataType":"text","maxScore":4)";
  auto q = question(base + R"(,"questionAnswer":[{"id":1,"isCorrect":true,"answerText":"a"},)"
                           R"({"id":2,"isCorrect":false},{"id":3,"isCorrect":true,"answerText":"c"}])");
  ASSERT_TRUE(q);
  EXPECT_EQ(std::tuple(q->id(), q->type(), q->dataType(), q->text(), q->maxScore()),
            std::tuple(7, QuizQuestionType::moreCorrect, QuizQuestionDataType::text, "Q", 4));
  ASSERT_EQ(q->answer().size(), 3u);
  EXPECT_EQ(std::tuple(q->answer()[0]->answerText(), q->answer()[1]->answerText(), q->answer()[2]->id()),
            std::tuple("a", std::nullopt, 3));
  for (const auto& answer : q->answer()) EXPECT_FALSE(answer->selected());

  const std::string noAnswers = "{" + base + R"(,"questionAnswer":[]})";
  EXPECT_TRUE((needsEachOf<QuizQuestion, QuizQuestionResponse>(
      noAnswers, {"id", "type", "questionText", "questionDataType", "maxScore", "questionAnswer"})));
  EXPECT_TRUE(question(base + R"(,"questionAnswer":[])")->answer().empty());
  // One answer that cannot be made, or that is no object, fails its whole question; so does a kind
  // outside the tables.
  EXPECT_FALSE(question(base + R"(,"questionAnswer":[{"id":1,"isCorrect":true},{"id":2}])"));
  for (const char* element : {"null", "7", "[]", R"("a")"})
    EXPECT_FALSE(question(base + R"(,"questionAnswer":[{"id":1,"isCorrect":true},)" + element + "]")) << element;
  EXPECT_FALSE(question(base + R"(,"questionAnswer":[{"isCorrect":true}])"));
  EXPECT_FALSE(question(R"("id":1,"type":"multi","questionText":"Q","questionDataType":"text","maxScore":1,)"
                        R"("questionAnswer":[])"));
  EXPECT_FALSE(question(R"("id":1,"type":"oneCorrect","questionText":"Q","questionDataType":"audio","maxScore":1,)"
                        R"("questionAnswer":[])"));

  auto own = QuizAnswer::initWithAnswerText(9, true, std::nullopt);
  EXPECT_EQ(std::tuple(own->id(), own->isCorrect(), own->selected()), std::tuple(9, true, false));
}

TEST(QuizModelsTest, QuizKeepsTheWholeLevelAndStartsWithoutQuestions) {
  auto record = QuizResponse::decode(
      R"({"id":3,"name":"Z","quizLevel":{"id":8,"two":50},"curriculumId":11,"quizQuestion":[{"id":1}]})");
  ASSERT_TRUE(record);
  auto quiz = Quiz::init(*record);
  ASSERT_TRUE(quiz);
  EXPECT_EQ(std::tuple(quiz->id(), quiz->name(), quiz->level().id, quiz->level().two, quiz->curriculumId()),
            std::tuple(3, "Z", 8, 50, 11));
  EXPECT_FALSE(quiz->description() || quiz->level().name || quiz->questions());

  EXPECT_TRUE((needsEachOf<Quiz, QuizResponse>(R"({"id":3,"name":"Z","quizLevel":{},"curriculumId":11})",
                                               {"id", "name", "quizLevel", "curriculumId"})));
}

}  // namespace
