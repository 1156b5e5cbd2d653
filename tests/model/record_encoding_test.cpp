#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/achievement_response.h"
#include "model/dorvale_date_transform.h"
#include "model/empty_payload.h"
#include "model/error_response.h"
#include "model/lecture_request.h"
#include "model/lecture_response.h"
#include "model/mappable_array.h"
#include "model/quiz_result_request.h"
#include "model/save_quiz_results_request.h"
#include "model/transfer_decodable.h"
#include "model/transfer_encodable.h"
#include "record_test_support.h"

// What can travel as a body or be built from an answer; a plain array of anything but integers
// would not be JSON, so it must not compile.
static_assert(TransferEncodable<std::vector<std::int64_t>> && TransferEncodable<std::vector<int>>);
static_assert(!TransferEncodable<std::vector<std::string>> && !TransferEncodable<std::vector<double>>);
static_assert(!TransferEncodable<std::vector<bool>>);
static_assert(TransferEncodable<LectureRequest> && !TransferDecodable<LectureRequest>);
static_assert(TransferDecodable<LectureResponse> && !TransferEncodable<LectureResponse>);
static_assert(TransferEncodable<MappableArray<SaveQuizResultsRequest>>);
static_assert(TransferDecodable<MappableArray<LectureResponse>> && TransferDecodable<ErrorResponse>);
static_assert(TransferEncodable<EmptyPayload> && TransferDecodable<EmptyPayload>);

namespace {

TEST(RecordEncodingTest, ErrorResponse) {
  auto error = ErrorResponse::decode("{}");
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->message);
  EXPECT_FALSE(error->code);

  EXPECT_FALSE(ErrorResponse::decode(""));
  EXPECT_FALSE(ErrorResponse::decode("<!DOCTYPE html><html><body>Bad Gateway</body></html>"));

  error = ErrorResponse::decode(R"({"errorMessage":"Wrong password"})");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message, "Wrong password");
  EXPECT_FALSE(error->code);

  error = ErrorResponse::decode(R"({"errorCode":401,"errorMessage":"Expired","message":"x"})");
  EXPECT_EQ(error->message, "Expired");
  EXPECT_EQ(error->code, 401);
}

TEST(RecordEncodingTest, EmptyPayloadIsNoBodyAndAnyReply) {
  EXPECT_EQ(EmptyPayload().encode(), "");
  EXPECT_EQ(encode(EmptyPayload()), "");
  const std::optional<EmptyPayload> reply = EmptyPayload::decode("<html>");
  EXPECT_TRUE(reply);
}

TEST(RecordEncodingTest, MappableArrayEncodesElementsJoinedByCommas) {
  EXPECT_EQ(MappableArray<LectureRequest>().encode(), "[]");

  LectureRequest first;
  first.name = "a";
  first.pageSize = 10;
  LectureRequest second;
  const MappableArray<LectureRequest> list({first, second});
  EXPECT_EQ(list.encode(), "[" + first.encode() + "," + second.encode() + "]");
  EXPECT_EQ(parsedJSON(list.encode()), parsedJSON(R"([{"name":"a","pageSize":10},{}])"));
}

TEST(RecordEncodingTest, MappableArrayDecodingNeverFails) {
  EXPECT_TRUE(MappableArray<LectureResponse>::decode("[]").empty());
  EXPECT_TRUE(MappableArray<LectureResponse>::decode("Service Unavailable").empty());
  EXPECT_TRUE(MappableArray<LectureResponse>::decode("").empty());
  EXPECT_TRUE(MappableArray<LectureResponse>::decode(R"({"id":1})").empty());

  const auto lectures = MappableArray<LectureResponse>::decode(R"([{"id":4,"name":"b"},"x",{"id":2}])");
  ASSERT_EQ(lectures.size(), 2u);
  EXPECT_EQ(lectures[0].id, 4);
  EXPECT_EQ(lectures[1].id, 2);
  EXPECT_EQ(lectures.first()->name, "b");
  std::vector<std::int64_t> ids;
  for (const LectureResponse& lecture : lectures) ids.push_back(*lecture.id);
  EXPECT_EQ(ids, (std::vector<std::int64_t>{4, 2}));
  EXPECT_FALSE(MappableArray<LectureResponse>().first());
}

TEST(RecordEncodingDeathTest, MappableArrayStopsOnAPositionOutsideTheList) {
  const auto lectures = MappableArray<LectureResponse>::decode(R"([{"id":1}])");
  EXPECT_DEATH(lectures[1], "index out of range");
  EXPECT_DEATH(MappableArray<LectureResponse>()[0], "index out of range");
}

TEST(RecordEncodingTest, PlainArrayIsDecimalDigitsBetweenBrackets) {
  EXPECT_EQ(encode(std::vector<std::int64_t>{3, -1, 17}), "[3,-1,17]");
  EXPECT_EQ(encode(std::vector<std::int64_t>{}), "[]");
  EXPECT_EQ(encode(std::vector<std::int64_t>{INT64_MIN}), "[-9223372036854775808]");
}

TEST(RecordEncodingTest, AllAbsentRequestIsAnEmptyObject) {
  EXPECT_EQ(LectureRequest().encode(), "{}");
  EXPECT_EQ(encode(SaveQuizResultsRequest()), "{}");
}

TEST(RecordEncodingTest, DatesTravelAsLocalTimeText) {
  const DorvaleDateTransform transform;
  EXPECT_EQ(transform.transformFromJSON("2015-10-21 14:05:00"), k20151021_140500);
  EXPECT_EQ(transform.transformFromJSON("2016-03-01 14:05:09"), k20160301_140509);
  EXPECT_EQ(transform.transformToJSON(k20151021_140500), "2015-10-21 14:05:00");
  EXPECT_EQ(transform.transformToJSON(k20160301_140509), "2016-03-01 14:05:09");
  EXPECT_FALSE(transform.transformToJSON(std::nullopt));
  for (const char* bad : {"2015-10-21T14:05:00", "2015-10-21", "2015-10-21 14:05:00Z", "2015-1-21 14:05:00",
                          " 2015-10-21 14:05:00", "2015-02-30 10:00:00", "2015-10-21 24:00:00", ""})
    EXPECT_FALSE(transform.transformFromJSON(bad)) << bad;
  EXPECT_FALSE(transform.transformFromJSON(467121900));
  EXPECT_FALSE(transform.transformFromJSON(nullptr));

  QuizResultRequest request;
  request.date = k20160301_140509;
  EXPECT_EQ(request.encode(), R"({"date":"2016-03-01 14:05:09"})");
}

}  // namespace
