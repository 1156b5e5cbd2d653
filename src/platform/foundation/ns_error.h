#pragma once

#include <memory>
#include <string>

#include "platform/foundation/value.h"

inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* NSUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* NSURLErrorFailingURLErrorKey = "NSErrorFailingURLKey";
inline constexpr const char* NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";

// An error: domain, code and user info. A value; pass std::optional<NSError> where it may be absent.
struct NSError {
  std::string domain;
  long code = 0;
  Value::Dictionary userInfo;

  NSError() = default;
  NSError(std::string d, long c, Value::Dictionary info = {})
      : domain(std::move(d)), code(c), userInfo(std::move(info)) {}
  static NSError errorWithDomain(std::string d, long c, Value::Dictionary info = {}) {
    return NSError(std::move(d), c, std::move(info));
  }

  // The user info's NSLocalizedDescription, else "The operation couldn’t be completed. (<domain>
  // error <code>.)".
  std::string localizedDescription() const;
  // "Error Domain=<domain> Code=<code> \"<localizedDescription>\" UserInfo={...}".
  std::string description() const;
  std::shared_ptr<const NSError> underlyingError() const;

  bool operator==(const NSError& o) const;
};
