#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/transfer_decodable.h"
#include "platform/json/map.h"

// One lecture of a lecture list.
struct LectureResponse : DecodableRecord<LectureResponse> {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<bool> isDeleted;
  std::optional<std::int64_t> version;
  std::optional<std::string> description;
  std::optional<std::string> pictureUrl;  // not always sent
  std::optional<std::string> color;
  std::optional<std::string> teacherName;
  std::optional<std::int64_t> games;    // not always sent
  std::optional<double> avgResult;      // not always sent
  std::optional<double> avgScore;       // not always sent
  std::optional<double> avgTime;        // not always sent
  std::optional<double> sumScore;       // not always sent
  std::optional<std::int64_t> sumTime;  // not always sent

  void mapping(Map& map);
};
