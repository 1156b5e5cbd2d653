#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/foundation/date.h"
#include "platform/json/mapper.h"

// Encoded records are compared as parsed JSON, so key order does not matter; invalid JSON
// compares as a discarded value and never equals an expected object.
inline nlohmann::json parsedJSON(std::string_view text) {
  return nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
}

// Dates below are local times in the zone every model test runs in (Central European, with
// summer time), set before any test starts.
constexpr Date k20151021_140500{467121900};  // 12:05:00 UTC, summer time
constexpr Date k20160301_140509{478530309};  // 13:05:09 UTC, winter time

// A full wire object decodes and writes back to the same object, so every field is read from its
// key with its type. Numbers keep their kind: a real field is written 8.0 where the text said 8,
// so give real fields a fraction and integer fields none.
template <class T>
testing::AssertionResult roundTrips(std::string_view text) {
  const std::optional<T> record = Mapper<T>().map(text);
  if (!record) return testing::AssertionFailure() << "no record from " << text;
  const std::string written = Mapper<T>().toJSONString(*record);
  if (parsedJSON(written).dump() != parsedJSON(text).dump()) return testing::AssertionFailure() << "wrote " << written;
  return testing::AssertionSuccess();
}

// A model made from `full` is refused once any one of `needed` is taken out of it.
template <class Model, class Record>
testing::AssertionResult needsEachOf(std::string_view full, std::initializer_list<const char*> needed) {
  if (!Model::init(Record::decode(full).value_or(Record{}))) return testing::AssertionFailure() << "refused " << full;
  for (const char* key : needed) {
    nlohmann::json json = parsedJSON(full);
    json.erase(key);
    if (Model::init(Record::decode(json.dump()).value_or(Record{})))
      return testing::AssertionFailure() << "made without " << key;
  }
  return testing::AssertionSuccess();
}
