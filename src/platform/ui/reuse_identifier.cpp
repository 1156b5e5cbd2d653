#include "platform/ui/reuse_identifier.h"

#include <mutex>
#include <set>

const std::optional<std::string>& sharedReuseIdentifier(std::optional<std::string> id) {
  static const std::optional<std::string> none;
  if (!id) return none;
  static std::mutex mutex;
  // Never destroyed: cells may still read theirs while the program exits.
  static auto* known = new std::set<std::optional<std::string>>();
  std::lock_guard lock(mutex);
  return *known->insert(std::move(id)).first;
}
