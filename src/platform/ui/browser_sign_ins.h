#pragma once

#include <cstddef>
#include <functional>
#include <memory>

// The web sign-ins whose page is open in the user's browser and whose answer has not come yet, so
// that the user can give up on them (the console's `cancel`). Main thread.
class BrowserSignIns {
 public:
  // `cancel` ends the sign-in as a cancelled one; it stays registered until the handle goes.
  [[nodiscard]] static std::shared_ptr<void> add(std::function<void()> cancel);
  // Cancels every waiting sign-in; how many there were.
  static std::size_t cancelAll();

  BrowserSignIns() = delete;
};
