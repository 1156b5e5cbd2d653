#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Which curricula to list; `all` true asks for the full record with its HTML page.
struct CurriculumRequest : EncodableRecord<CurriculumRequest> {
  std::optional<std::string> name;         // not always sent
  std::optional<std::int64_t> pageNumber;  // not always sent
  std::optional<std::int64_t> pageSize;    // not always sent
  std::optional<std::int64_t> lectureId;   // not always sent
  std::optional<std::int64_t> id;          // not always sent
  std::optional<bool> all;                 // not always sent

  void mapping(Map& map);
};
