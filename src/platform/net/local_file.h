#pragma once

#include <cstdint>
#include <string>

#include <tl/expected.hpp>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"

// The bytes of the file a file URL names, read as a network body is: at most `maxBytes` of them
// (a longer file fails with NSURLErrorDataLengthExceedsMaximum before more is read), a missing or
// unreadable file, and anything but a regular file (a named pipe, a device such as /dev/zero, a
// directory), with NSURLErrorFileDoesNotExist, another URL with NSURLErrorUnsupportedURL. Links
// are followed. Never waits for a writer.
tl::expected<std::string, NSError> readLocalFile(const URL& url, std::int64_t maxBytes);
