#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"

class URLSessionDataTask;

// The bytes at `url`, read while the caller waits: a file URL from disk, http(s) through a URL
// session whose completion runs on a queue of its own, so a caller on the main thread cannot
// deadlock with the main run loop. Gives up after `timeout` seconds of real time (cancelling the
// transfer) instead of hanging. Nothing on any failure (an HTTP error status included), with the
// reason in *outError when given.
std::optional<Data> dataWithContentsOfURL(const URL& url, TimeInterval timeout = 30,
                                          std::optional<NSError>* outError = nullptr);

// The same without waiting: `completion` runs later on the main queue with the bytes, or with
// nothing and the reason. A file URL is read at once. The data task of an http(s) URL, so that
// the caller can cancel it (its completion then says so); nothing for other URLs.
using URLContentsCompletion = std::function<void(std::optional<Data>, std::optional<NSError>)>;
std::shared_ptr<URLSessionDataTask> loadContentsOfURL(const URL& url, TimeInterval timeout,
                                                      URLContentsCompletion completion);
