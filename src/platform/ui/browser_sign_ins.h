#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// The web sign-ins whose page is open in the user's browser and whose answer has not come yet, so
// that the user can give up on them (the console's `cancel`, another sign-in starting). Main thread.
class BrowserSignIns {
 public:
  // `provider` names the sign-in to the user ("Facebook"). `cancel` ends it as a cancelled one and
  // says whether it still waited: one whose answer has come goes on. It stays registered until the
  // handle goes.
  [[nodiscard]] static std::shared_ptr<void> add(std::string provider, std::function<bool()> cancel);
  // Cancels every waiting sign-in; how many there were.
  static std::size_t cancelAll();
  // Cancels every waiting sign-in but those of `keep`, and tells `out` of each one it ended: the
  // providers of those, one per sign-in.
  static std::vector<std::string> giveUp(std::ostream& out, const std::string& keep = "");

  BrowserSignIns() = delete;
};
