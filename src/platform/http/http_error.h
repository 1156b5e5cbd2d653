#pragma once

#include <string>

#include "platform/foundation/ns_error.h"

// Errors the HTTP framework makes itself; transport failures keep the URL-loading domain.
inline constexpr const char* HTTPErrorDomain = "HTTPErrorDomain";

enum class HTTPErrorCode : long {
  StatusCodeValidationFailed = -6003,
  StringSerializationFailed = -6004,
  MultipartEncodingFailed = -6005,
};

inline NSError httpError(HTTPErrorCode code, const std::string& reason) {
  return NSError(HTTPErrorDomain, static_cast<long>(code),
                 {{NSLocalizedDescriptionKey, reason}, {NSLocalizedFailureReasonErrorKey, reason}});
}
