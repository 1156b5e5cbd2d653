#include <gtest/gtest.h>

#include "model/curriculum_request.h"
#include "model/curriculum_response.h"
#include "model/document_request.h"
#include "model/document_response.h"
#include "model/lecture_request.h"
#include "model/lecture_response.h"
#include "model/mappable_array.h"
#include "record_test_support.h"

namespace {

TEST(ContentRecordsTest, RequestsWriteOnlyPresentFieldsAndFalseToo) {
  EXPECT_EQ(LectureRequest().encode(), "{}");
  EXPECT_EQ(CurriculumRequest().encode(), "{}");
  EXPECT_EQ(DocumentRequest().encode(), "{}");

  LectureRequest lectures;
  lectures.name = "bio";
  lectures.pageNumber = 0;
  lectures.pageSize = 20;
  EXPECT_EQ(parsedJSON(lectures.encode()), parsedJSON(R"({"name":"bio","pageNumber":0,"pageSize":20})"));

  CurriculumRequest curricula;
  curricula.lectureId = 7;
  curricula.all = false;
  EXPECT_EQ(parsedJSON(curricula.encode()), parsedJSON(R"({"lectureId":7,"all":false})"));
  curricula.id = 3;
  curricula.all = true;
  EXPECT_EQ(parsedJSON(curricula.encode()), parsedJSON(R"({"lectureId":7,"curriculumId":3,"all":true})"));
  curricula.name = "n";
  curricula.pageNumber = 1;
  curricula.pageSize = 2;
  EXPECT_EQ(parsedJSON(curricula.encode()).size(), 6u);

  DocumentRequest documents;
  documents.curriculumId = 12;
  EXPECT_EQ(parsedJSON(documents.encode()), parsedJSON(R"({"curriculumId":12})"));
  documents.name = "a";
  documents.pageNumber = 1;
  documents.pageSize = 2;
  EXPECT_EQ(parsedJSON(documents.encode()),
            parsedJSON(R"({"curriculumId":12,"name":"a","pageNumber":1,"pageSize":2})"));
}

TEST(ContentRecordsTest, FullRepliesDecodeEveryField) {
  EXPECT_TRUE(roundTrips<LectureResponse>(
      R"({"id":1,"name":"Biology","isDeleted":false,"version":3,"description":"Cells","picture":"/img/b.png",)"
      R"("color":"teal_amber","teacherName":"Dr. K","games":12,"avgResult":0.75,"avgScore":8,"avgTime":61.5,)"
      R"("sumScore":96.0,"sumTime":738})"));
  EXPECT_TRUE(roundTrips<CurriculumResponse>(
      R"({"id":4,"name":"Cells","isDeleted":true,"version":1,"description":"d","htmlSite":"<p>x</p>",)"
      R"("picture":"/c.png","lectureId":1,"lectureName":"Biology","games":0,"avgResult":0,"avgScore":0.5,)"
      R"("avgTime":2,"sumScore":3,"sumTime":4})"));
  EXPECT_TRUE(roundTrips<DocumentResponse>(
      R"({"id":9,"name":"Notes","isDeleted":false,"description":"","path":"/docs/a b.pdf","fileName":"a b.pdf",)"
      R"("curriculumId":4})"));
}

TEST(ContentRecordsTest, RenamedMissingAndMistypedKeysLeaveOnlyThoseFieldsAbsent) {
  const auto lectures = MappableArray<LectureResponse>::decode(
      R"([{"id":"2","name":"Art","pictureUrl":"/img/a.png","color":"no_such_theme","games":null,"avgScore":"8"},)"
      R"({"id":3,"picture":"/img/c.png"}])");
  ASSERT_EQ(lectures.size(), 2u);
  EXPECT_FALSE(lectures[0].id);
  EXPECT_EQ(lectures[0].name, "Art");
  EXPECT_FALSE(lectures[0].pictureUrl);
  EXPECT_EQ(lectures[0].color, "no_such_theme");
  EXPECT_FALSE(lectures[0].games);
  EXPECT_FALSE(lectures[0].avgScore);
  EXPECT_FALSE(lectures[0].teacherName);
  EXPECT_EQ(lectures[1].pictureUrl, "/img/c.png");

  const auto curriculum =
      CurriculumResponse::decode(R"({"id":4,"htmlContent":"<p>x</p>","pictureUrl":"/c.png"})");
  EXPECT_EQ(curriculum->id, 4);
  EXPECT_FALSE(curriculum->htmlContent);
  EXPECT_FALSE(curriculum->pictureUrl);

  const auto document = DocumentResponse::decode(R"({"id":9.5,"path":null,"curriculumId":"4","name":"n"})");
  EXPECT_FALSE(document->id);
  EXPECT_FALSE(document->path);
  EXPECT_FALSE(document->curriculumId);
  EXPECT_EQ(document->name, "n");
}

}  // namespace
