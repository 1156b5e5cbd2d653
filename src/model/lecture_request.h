#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Filter and paging of a lecture list.
struct LectureRequest : EncodableRecord<LectureRequest> {
  std::optional<std::string> name;         // not always sent
  std::optional<std::int64_t> pageNumber;  // not always sent
  std::optional<std::int64_t> pageSize;    // not always sent

  void mapping(Map& map);
};
