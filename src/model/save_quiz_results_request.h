#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/foundation/date.h"
#include "platform/json/map.h"

// One evaluated quiz, uploaded inside a `MappableArray`.
struct SaveQuizResultsRequest : EncodableRecord<SaveQuizResultsRequest> {
  std::optional<std::int64_t> quizId;
  std::optional<double> score;
  std::optional<std::int64_t> time;
  std::optional<std::string> answersScore;
  std::optional<std::int64_t> maxScore;
  std::optional<std::int64_t> mobileId;
  std::optional<Date> date;
  std::optional<std::string> questionsId;
  std::optional<std::int64_t> quizLevelId;

  void mapping(Map& map);
};
