#pragma once

#include <cstdint>
#include <string>

#include <tl/expected.hpp>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"

// The bytes of the file a file URL names, read as a network body is: at most `maxBytes` of them
// (a longer file, or an endless one such as /dev/zero, fails with
// NSURLErrorDataLengthExceedsMaximum before more is read), a missing or unreadable file with
// NSURLErrorFileDoesNotExist, another URL with NSURLErrorUnsupportedURL.
tl::expected<std::string, NSError> readLocalFile(const URL& url, std::int64_t maxBytes);
