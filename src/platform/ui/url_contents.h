#pragma once

#include <optional>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"

// The bytes at `url`, read while the caller waits: a file URL from disk, http(s) through a URL
// session whose completion runs on a queue of its own, so a caller on the main thread cannot
// deadlock with the main run loop. Gives up after `timeout` seconds of real time (cancelling the
// transfer) instead of hanging. Nothing on any failure (an HTTP error status included), with the
// reason in *outError when given.
std::optional<Data> dataWithContentsOfURL(const URL& url, TimeInterval timeout = 30,
                                          std::optional<NSError>* outError = nullptr);
