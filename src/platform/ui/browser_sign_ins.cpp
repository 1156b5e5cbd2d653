#include "platform/ui/browser_sign_ins.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <utility>

namespace {

struct SignIn {
  std::string provider;
  std::function<bool()> cancel;
};

struct Registry {
  std::uint64_t next = 0;
  std::map<std::uint64_t, SignIn> waiting;
};

// Never destroyed: a handle may outlive the statics at exit.
Registry& registry() {
  static auto* shared = new Registry;
  return *shared;
}

// Takes the sign-ins that `take` picks out of the registry before any is cancelled: a cancel drops
// its own handle, and may start another sign-in.
std::vector<SignIn> takeWaiting(const std::function<bool(const SignIn&)>& take) {
  std::vector<SignIn> taken;
  auto& waiting = registry().waiting;
  for (auto it = waiting.begin(); it != waiting.end();) {
    if (!take(it->second)) {
      ++it;
      continue;
    }
    taken.push_back(std::move(it->second));
    it = waiting.erase(it);
  }
  return taken;
}

}  // namespace

std::shared_ptr<void> BrowserSignIns::add(std::string provider, std::function<bool()> cancel) {
  const auto id = registry().next++;
  registry().waiting.emplace(id, SignIn{std::move(provider), std::move(cancel)});
  return std::shared_ptr<void>(nullptr, [id](void*) { registry().waiting.erase(id); });
}

std::size_t BrowserSignIns::cancelAll() {
  auto cancels = takeWaiting([](const SignIn&) { return true; });
  for (auto& signIn : cancels) signIn.cancel();
  return cancels.size();
}

std::vector<std::string> BrowserSignIns::giveUp(std::ostream& out, const std::string& keep) {
  std::vector<std::string> ended;
  for (auto& signIn : takeWaiting([&keep](const SignIn& each) { return keep.empty() || each.provider != keep; })) {
    if (!signIn.cancel()) continue;
    // Its tab in the browser will find nobody listening: the user hears why here.
    out << "The " << (signIn.provider.empty() ? "" : signIn.provider + " ")
        << "sign-in that waited in the browser was given up.\n";
    ended.push_back(signIn.provider);
  }
  out.flush();
  return ended;
}
