#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_encodable.h"
#include "platform/json/map.h"

// Filter of the news list.
struct NewsRequest : EncodableRecord<NewsRequest> {
  std::optional<std::int64_t> lectureId;  // not always sent
  std::optional<std::string> searchText;  // not always sent

  void mapping(Map& map);
};
