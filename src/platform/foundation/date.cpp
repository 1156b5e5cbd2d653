#include "platform/foundation/date.h"

#include <chrono>
#include <mutex>
#include <utility>

Date Date::now() { return currentClock()->now(); }

TimeInterval Date::timeIntervalSinceNow() const { return timeIntervalSinceDate(Date::now()); }

Date SystemClock::now() const {
  using namespace std::chrono;
  const auto sinceEpoch = duration<double>(system_clock::now().time_since_epoch()).count();
  return Date::dateWithTimeIntervalSince1970(sinceEpoch);
}

Date VirtualClock::now() const { return Date{now_.load()}; }

void VirtualClock::setNow(Date d) { now_.store(d.timeIntervalSinceReferenceDate); }

void VirtualClock::advance(TimeInterval seconds) { now_.fetch_add(seconds); }

namespace {

struct ClockSlot {
  std::mutex mutex;
  std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
};

// Never destroyed: threads may still read the time while the process exits.
ClockSlot& clockSlot() {
  static auto* slot = new ClockSlot;
  return *slot;
}

}  // namespace

std::shared_ptr<Clock> currentClock() {
  auto& slot = clockSlot();
  std::lock_guard lock(slot.mutex);
  return slot.clock;
}

void setCurrentClock(std::shared_ptr<Clock> clock) {
  if (!clock) clock = std::make_shared<SystemClock>();
  auto& slot = clockSlot();
  std::shared_ptr<Clock> previous;
  {
    std::lock_guard lock(slot.mutex);
    previous = std::exchange(slot.clock, std::move(clock));
  }
}
