#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One document of a curriculum.
struct DocumentResponse : DecodableRecord<DocumentResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<bool> isDeleted;
  std::optional<std::string> description;
  std::optional<std::string> path;
  std::optional<std::string> fileName;
  std::optional<std::int64_t> curriculumId;

  void mapping(Map& map);
};
