#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/foundation/date.h"
#include "platform/json/map.h"

// A stored quiz result. Its date is under "dateString", unlike the upload's "date".
struct QuizResultResponse : DecodableRecord<QuizResultResponse> {
  std::optional<std::int64_t> id;
  std::optional<double> score;
  std::optional<std::int64_t> time;
  std::optional<std::int64_t> result;
  std::optional<Date> date;
  std::optional<std::string> version;  // not always sent
  std::optional<std::string> answersScore;
  std::optional<std::string> answersTime;  // not always sent
  std::optional<std::int64_t> maxScore;
  std::optional<std::string> answersMaxScore;  // not always sent
  std::optional<std::int64_t> quizId;
  std::optional<std::string> studentId;
  std::optional<std::int64_t> mobileId;  // not always sent

  void mapping(Map& map);
};
