#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Asks for quizzes: a list (`all` false) or one quiz with its questions (`id` and `all` true).
struct QuizRequest : EncodableRecord<QuizRequest> {
  std::optional<std::int64_t> id;            // not always sent
  std::optional<std::string> name;           // not always sent
  std::optional<std::int64_t> pageNumber;    // not always sent
  std::optional<std::int64_t> pageSize;      // not always sent
  std::optional<std::int64_t> curriculumId;  // not always sent
  std::optional<bool> all;                   // not always sent
  std::optional<std::int64_t> lectureId;     // not always sent

  void mapping(Map& map);
};
