#pragma once

#include <cstdint>
#include <optional>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Query of the best stored quiz results.
struct BestQuizResultRequest : EncodableRecord<BestQuizResultRequest> {
  std::optional<std::int64_t> quizId;        // not always sent
  std::optional<std::int64_t> curriculumId;  // not always sent
  std::optional<std::int64_t> lectureId;     // not always sent

  void mapping(Map& map);
};
