#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/foundation/date.h"
#include "platform/json/map.h"

// One news item.
struct NewsResponse : DecodableRecord<NewsResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::string> title;        // not always sent
  std::optional<std::string> description;  // not always sent
  std::optional<Date> createDate;
  std::optional<std::string> longText;     // not always sent
  std::optional<std::int64_t> lectureId;   // not always sent
  std::optional<std::string> color;        // not always sent
  std::optional<std::string> lectureName;  // not always sent

  void mapping(Map& map);
};
