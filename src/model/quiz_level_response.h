#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// A quiz's grading level.
struct QuizLevelResponse : DecodableRecord<QuizLevelResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<std::int64_t> two;
  std::optional<std::int64_t> three;
  std::optional<std::int64_t> four;
  std::optional<std::int64_t> five;

  void mapping(Map& map);
};
