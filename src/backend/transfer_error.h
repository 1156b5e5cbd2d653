#pragma once

#include <optional>

#include "platform/foundation/ns_error.h"

// What a failed backend call reports: the HTTP layer's error, the status code of the answer when
// one came, and the answer body decoded as the backend's error record E.
template <class E>
struct TransferError {
  std::optional<E> response;
  std::optional<NSError> error;
  std::optional<int> statusCode;
};
