#pragma once

#include <cstdint>
#include <optional>

#include "model/transfer_encodable.h"
#include "platform/foundation/date.h"
#include "platform/json/map.h"

// Query of stored quiz results.
struct QuizResultRequest : EncodableRecord<QuizResultRequest> {
  std::optional<std::int64_t> quizId;     // not always sent
  std::optional<Date> date;               // not always sent
  std::optional<std::int64_t> lectureId;  // not always sent

  void mapping(Map& map);
};
