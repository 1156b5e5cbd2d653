#include "platform/ui/browser_sign_ins.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace {

struct Registry {
  std::uint64_t next = 0;
  std::map<std::uint64_t, std::function<void()>> waiting;
};

// Never destroyed: a handle may outlive the statics at exit.
Registry& registry() {
  static auto* shared = new Registry;
  return *shared;
}

}  // namespace

std::shared_ptr<void> BrowserSignIns::add(std::function<void()> cancel) {
  const auto id = registry().next++;
  registry().waiting.emplace(id, std::move(cancel));
  return std::shared_ptr<void>(nullptr, [id](void*) { registry().waiting.erase(id); });
}

std::size_t BrowserSignIns::cancelAll() {
  // A cancel drops its own handle, and may start another sign-in.
  std::vector<std::function<void()>> cancels;
  for (auto& [id, cancel] : std::exchange(registry().waiting, {})) cancels.push_back(std::move(cancel));
  for (auto& cancel : cancels) cancel();
  return cancels.size();
}
