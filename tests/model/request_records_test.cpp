#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/achievement_request.h"
#include "model/add_password_request.h"
#include "model/best_quiz_result_request.h"
#include "model/change_password_request.h"
#include "model/curriculum_request.h"
#include "model/document_request.h"
#include "model/external_register_request.h"
#include "model/lecture_request.h"
#include "model/login_request.h"
#include "model/modify_external_profile_request.h"
#include "model/news_request.h"
#include "model/password_recovery_request.h"
#include "model/quiz_request.h"
#include "model/quiz_result_request.h"
#include "model/register_request.h"
#include "model/save_quiz_results_request.h"
#include "model/student_achievement_request.h"
#include "record_test_support.h"

namespace {

template <class Request, class Fill>
std::string encoded(Fill fill) {
  Request request;
  fill(request);
  return request.encode();
}

void registration(RegisterRequest& r) {
  r.userName = "u";
  r.firstName = "F";
  r.lastName = "L";
  r.password = "p1";
  r.confirmPassword = "p2";
}

TEST(RequestRecordsTest, AnEmptyRequestIsAnEmptyObject) {
  for (const std::string& body :
       {LoginRequest().encode(), PasswordRecoveryRequest().encode(), ChangePasswordRequest().encode(),
        AddPasswordRequest().encode(), RegisterRequest().encode(), ExternalRegisterRequest().encode(),
        ModifyExternalProfileRequest().encode(), LectureRequest().encode(), CurriculumRequest().encode(),
        DocumentRequest().encode(), NewsRequest().encode(), AchievementRequest().encode(),
        StudentAchievementRequest().encode(), QuizRequest().encode(), SaveQuizResultsRequest().encode(),
        QuizResultRequest().encode(), BestQuizResultRequest().encode()})
    EXPECT_EQ(body, "{}");
}

// Every key of every request, and the bodies the services send.
TEST(RequestRecordsTest, RequestsWriteExactlyTheirPresentFieldsUnderTheirKeys) {
  const std::string registerPrefix = R"("userName":"u","firstName":"F","lastName":"L","password":"p1",)"
                                     R"("confirmPassword":"p2")";
  const struct {
    const char* what;
    std::string body;
    std::string expected;
  } cases[] = {
      {"login", encoded<LoginRequest>([](auto& r) { r.userName = "a@x"; r.password = "p\"w"; }),
       R"({"userName":"a@x","password":"p\"w"})"},
      {"recovery", encoded<PasswordRecoveryRequest>([](auto& r) { r.userName = "a@x"; }), R"({"userName":"a@x"})"},
      {"change", encoded<ChangePasswordRequest>([](auto& r) { r.oldPassword = "a"; r.newPassword = "b"; }),
       R"({"oldPassword":"a","newPassword":"b"})"},
      {"add", encoded<AddPasswordRequest>([](auto& r) { r.newPassword = "n"; }), R"({"newPassword":"n"})"},
      {"register, schools absent", encoded<RegisterRequest>(registration), "{" + registerPrefix + "}"},
      {"register, no school", encoded<RegisterRequest>([](auto& r) { registration(r); r.schools.emplace(); }),
       "{" + registerPrefix + R"(,"schoolId":[]})"},
      {"register, two schools",
       encoded<RegisterRequest>([](auto& r) { registration(r); r.schools = std::vector<std::int64_t>{3, 7}; }),
       "{" + registerPrefix + R"(,"schoolId":[3,7]})"},
      {"external register", encoded<ExternalRegisterRequest>([](auto& r) {
         r.userName = "u"; r.firstName = "F"; r.lastName = "L"; r.token = "t"; r.provider = "facebook";
         r.schools = std::vector<std::int64_t>{3, 7};
       }),
       R"({"userName":"u","firstName":"F","lastName":"L","token":"t","schoolId":[3,7],"provider":"facebook"})"},
      {"external profile", encoded<ModifyExternalProfileRequest>([](auto& r) { r.provider = "zedodo"; r.token = "t"; }),
       R"({"provider":"zedodo","token":"t"})"},
      {"lectures", encoded<LectureRequest>([](auto& r) { r.name = "bio"; r.pageNumber = 0; r.pageSize = 20; }),
       R"({"name":"bio","pageNumber":0,"pageSize":20})"},
      {"curriculum list", encoded<CurriculumRequest>([](auto& r) { r.lectureId = 7; r.all = false; }),
       R"({"lectureId":7,"all":false})"},
      {"one curriculum", encoded<CurriculumRequest>([](auto& r) { r.lectureId = 7; r.id = 3; r.all = true; }),
       R"({"lectureId":7,"curriculumId":3,"all":true})"},
      {"curricula, all fields", encoded<CurriculumRequest>([](auto& r) {
         r.name = "n"; r.pageNumber = 1; r.pageSize = 2; r.lectureId = 7; r.id = 3; r.all = false;
       }),
       R"({"name":"n","pageNumber":1,"pageSize":2,"lectureId":7,"curriculumId":3,"all":false})"},
      {"documents", encoded<DocumentRequest>([](auto& r) {
         r.name = "a"; r.pageNumber = 1; r.pageSize = 2; r.curriculumId = 12;
       }),
       R"({"name":"a","pageNumber":1,"pageSize":2,"curriculumId":12})"},
      {"news", encoded<NewsRequest>([](auto& r) { r.lectureId = 2; r.searchText = "exam"; }),
       R"({"lectureId":2,"searchText":"exam"})"},
      {"achievements",
       encoded<AchievementRequest>([](auto& r) { r.entityType = AchievementRequestEntityType::Curriculum; r.id = 5; }),
       R"({"entityType":"curriculum","id":5})"},
      {"student achievements",
       encoded<StudentAchievementRequest>([](auto& r) { r.lectureId = 1; r.pageNumber = 2; r.pageSize = 3; }),
       R"({"lectureId":1,"pageNumber":2,"pageSize":3})"},
      {"one quiz", encoded<QuizRequest>([](auto& r) { r.id = 42; r.all = true; }), R"({"quizId":42,"all":true})"},
      {"quiz list", encoded<QuizRequest>([](auto& r) { r.lectureId = 5; r.all = false; }),
       R"({"lectureId":5,"all":false})"},
      {"quizzes, all fields", encoded<QuizRequest>([](auto& r) {
         r.id = 1; r.name = "n"; r.pageNumber = 2; r.pageSize = 3; r.curriculumId = 4; r.all = false; r.lectureId = 5;
       }),
       R"({"quizId":1,"name":"n","pageNumber":2,"pageSize":3,"curriculumId":4,"all":false,"lectureId":5})"},
      {"best results", encoded<BestQuizResultRequest>([](auto& r) { r.curriculumId = 7; }), R"({"curriculumId":7})"},
      {"best results, all fields",
       encoded<BestQuizResultRequest>([](auto& r) { r.quizId = 1; r.curriculumId = 7; r.lectureId = 2; }),
       R"({"quizId":1,"curriculumId":7,"lectureId":2})"},
      {"results", encoded<QuizResultRequest>([](auto& r) { r.quizId = 8; r.date = k20151021_140500; r.lectureId = 1; }),
       R"({"quizId":8,"date":"2015-10-21 14:05:00","lectureId":1})"},
      {"upload", encoded<SaveQuizResultsRequest>([](auto& r) {
         r.quizId = 8; r.score = 1.5; r.time = 0; r.answersScore = "1.0000;0.5000"; r.maxScore = 4; r.mobileId = 0;
         r.date = k20160301_140509; r.questionsId = "11;12"; r.quizLevelId = 2;
       }),
       R"({"quizId":8,"score":1.5,"time":0,"answersScore":"1.0000;0.5000","maxScore":4,"mobileId":0,)"
       R"("date":"2016-03-01 14:05:09","questionsId":"11;12","quizLevelId":2})"},
  };
  for (const auto& c : cases) EXPECT_EQ(parsedJSON(c.body), parsedJSON(c.expected)) << c.what << ": " << c.body;
}

}  // namespace
