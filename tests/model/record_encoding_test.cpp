#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "model/achievement_response.h"
#include "model/dorvale_date_transform.h"
#include "model/empty_payload.h"
#include "model/error_response.h"
#include "model/lecture_response.h"
#include "model/mappable_array.h"
#include "model/save_quiz_results_request.h"
#include "model/transfer_decodable.h"
#include "model/transfer_encodable.h"
#include "record_test_support.h"

// What can travel as a body or be built from an answer; a plain array of anything but integers
// would not be JSON, so it must not compile.
static_assert(TransferEncodable<std::vector<std::int64_t>> && TransferEncodable<std::vector<int>>);
static_assert(!TransferEncodable<std::vector<std::string>> && !TransferEncodable<std::vector<double>>);
static_assert(!TransferEncodable<std::vector<bool>>);
static_assert(TransferEncodable<SaveQuizResultsRequest> && !TransferDecodable<SaveQuizResultsRequest>);
static_assert(TransferDecodable<LectureResponse> && !TransferEncodable<LectureResponse>);
static_assert(TransferEncodable<MappableArray<SaveQuizResultsRequest>>);
static_assert(TransferDecodable<MappableArray<LectureResponse>> && TransferDecodable<ErrorResponse>);
static_assert(TransferEncodable<EmptyPayload> && TransferDecodable<EmptyPayload>);

namespace {

TEST(RecordEncodingTest, ErrorBodyAndEmptyPayload) {
  // "<message>/<code>", "-" for an absent value, "none" when no record is made.
  const auto decoded = [](const char* body) {
    const auto e = ErrorResponse::decode(body);
    return !e ? "none" : e->message.value_or("-") + "/" + (e->code ? std::to_string(*e->code) : "-");
  };
  EXPECT_EQ((std::vector<std::string>{decoded("{}"), decoded(""), decoded("<!DOCTYPE html><html>Bad Gateway</html>"),
                                      decoded(R"({"errorMessage":"Wrong password"})"),
                                      decoded(R"({"errorCode":401,"errorMessage":"Expired"})")}),
            (std::vector<std::string>{"-/-", "none", "none", "Wrong password/-", "Expired/401"}));

  EXPECT_EQ(encode(EmptyPayload()), "");
}

TEST(RecordEncodingTest, ListsAndPlainArrays) {
  EXPECT_EQ(MappableArray<SaveQuizResultsRequest>().encode(), "[]");
  SaveQuizResultsRequest first, second;
  std::tie(first.quizId, first.score, second.quizId) = std::tuple(8, 1.5, 9);
  const MappableArray<SaveQuizResultsRequest> uploads({first, second});
  EXPECT_EQ(uploads.encode(), "[" + first.encode() + "," + second.encode() + "]");
  EXPECT_EQ(parsedJSON(uploads.encode()), parsedJSON(R"([{"quizId":8,"score":1.5},{"quizId":9}])"));

  for (const char* text : {"[]", "Service Unavailable", "", R"({"id":1})"})
    EXPECT_TRUE(MappableArray<LectureResponse>::decode(text).empty()) << text;
  const auto lectures = MappableArray<LectureResponse>::decode(R"([{"id":4,"name":"b"},{"id":2}])");
  ASSERT_EQ(lectures.size(), 2u);
  EXPECT_EQ(std::tuple(lectures[1].id, lectures.first()->name),
            std::tuple(std::optional<std::int64_t>(2), std::optional<std::string>("b")));
  std::vector<std::int64_t> ids;
  for (const LectureResponse& lecture : lectures) ids.push_back(*lecture.id);
  EXPECT_EQ(ids, (std::vector<std::int64_t>{4, 2}));
  EXPECT_FALSE(MappableArray<LectureResponse>().first());
  // Read one object at a time: a broken end still gives nothing, other elements are passed over,
  // and what an object holds deeper stays its own.
  EXPECT_TRUE(MappableArray<LectureResponse>::decode(R"([{"id":1},{"id":2)").empty());
  const auto mixed = MappableArray<LectureResponse>::decode(R"( [1,{"id":3,"x":{"id":8},"name":"c"},"y",[{"id":9}]])");
  ASSERT_EQ(mixed.size(), 1u);
  EXPECT_EQ(std::tuple(mixed[0].id, mixed[0].name),
            std::tuple(std::optional<std::int64_t>(3), std::optional<std::string>("c")));

  EXPECT_EQ(std::tuple(encode(std::vector<std::int64_t>{3, -1, 17}), encode(std::vector<std::int64_t>{}),
                       encode(std::vector<std::int64_t>{INT64_MIN})),
            std::tuple("[3,-1,17]", "[]", "[-9223372036854775808]"));
}

TEST(RecordEncodingDeathTest, MappableArrayStopsOnAPositionOutsideTheList) {
  const auto lectures = MappableArray<LectureResponse>::decode(R"([{"id":1}])");
  EXPECT_DEATH(lectures[1], "index out of range");
  EXPECT_DEATH(MappableArray<LectureResponse>()[0], "index out of range");
}

TEST(RecordEncodingTest, DatesTravelAsLocalTimeText) {
  const DorvaleDateTransform transform;
  for (const auto& [text, date] :
       {std::pair{"2015-10-21 14:05:00", k20151021_140500}, {"2016-03-01 14:05:09", k20160301_140509}}) {
    EXPECT_EQ(transform.transformFromJSON(text), date);
    EXPECT_EQ(transform.transformToJSON(date), text);
  }
  EXPECT_FALSE(transform.transformToJSON(std::nullopt));
  for (const char* bad : {"2015-10-21T14:05:00", "2015-10-21", "2015-10-21 14:05:00Z", "2015-1-21 14:05:00",
                          " 2015-10-21 14:05:00", "2015-02-30 10:00:00", "2015-10-21 24:00:00", ""})
    EXPECT_FALSE(transform.transformFromJSON(bad)) << bad;
  EXPECT_FALSE(transform.transformFromJSON(467121900));
  EXPECT_FALSE(transform.transformFromJSON(nullptr));
}

}  // namespace
