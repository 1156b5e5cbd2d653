#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/date.h"

// Puts a test on a virtual clock: installs a VirtualClock and empties the main run loop, and on
// destruction empties the loop again and puts the previous clock back. Time moves only through
// advance(); runUntil() waits in real time for work posted from other threads.
class VirtualTime {
 public:
  // 2017-07-14 02:40:00 UTC: a fixed, unremarkable instant.
  static constexpr TimeInterval kDefaultStart = 1500000000.0 - Date::kReferenceDateUnixOffset;

  explicit VirtualTime(Date start = Date{kDefaultStart});
  ~VirtualTime();
  VirtualTime(const VirtualTime&) = delete;
  VirtualTime& operator=(const VirtualTime&) = delete;

  Date now() const;
  const std::shared_ptr<VirtualClock>& clock() const { return clock_; }

  // Moves virtual time, firing timers at their due times and running posted tasks in between.
  void advance(TimeInterval seconds);
  bool runUntil(const std::function<bool()>& predicate, TimeInterval timeout = 5.0);
  void runUntilIdle();

 private:
  std::shared_ptr<VirtualClock> clock_;
  std::shared_ptr<Clock> previous_;
};
