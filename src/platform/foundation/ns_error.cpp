#include "platform/foundation/ns_error.h"

#include <fmt/format.h>

std::string NSError::localizedDescription() const {
  auto it = userInfo.find(NSLocalizedDescriptionKey);
  if (it != userInfo.end()) {
    if (const std::string* s = it->second.asString()) return *s;
  }
  return fmt::format("The operation couldn\u2019t be completed. ({} error {}.)", domain, code);
}

std::string NSError::description() const {
  std::string out = fmt::format("Error Domain={} Code={} \"{}\"", domain, code, localizedDescription());
  if (!userInfo.empty()) out += " UserInfo=" + Value(userInfo).description();
  return out;
}

std::shared_ptr<const NSError> NSError::underlyingError() const {
  auto it = userInfo.find(NSUnderlyingErrorKey);
  return it == userInfo.end() ? nullptr : it->second.asError();
}

bool NSError::operator==(const NSError& o) const {
  return domain == o.domain && code == o.code && userInfo == o.userInfo;
}
