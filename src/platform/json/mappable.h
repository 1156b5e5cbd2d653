#pragma once

#include <concepts>

#include "platform/json/map.h"

// A record the mapper can build and write: default construction leaves every field absent, and
// `mapping` binds each field to its key, in declaration order, in the map's direction.
template <class T>
concept Mappable = std::default_initializable<T> && std::copy_constructible<T> && requires(T& record, Map& map) {
  record.mapping(map);
};
