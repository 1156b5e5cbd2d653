#include "platform/foundation/date.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>

namespace {
Date systemNow() {
  using namespace std::chrono;
  const auto sinceEpoch = duration<double>(system_clock::now().time_since_epoch()).count();
  return Date::dateWithTimeIntervalSince1970(sinceEpoch);
}

// Set while the system clock is installed: then a read of the time takes no lock.
std::atomic<bool> systemClockInstalled{true};
}  // namespace

bool usingSystemClock() { return systemClockInstalled.load(std::memory_order_acquire); }

Date Date::now() {
  if (systemClockInstalled.load(std::memory_order_acquire)) return systemNow();
  return currentClock()->now();
}

TimeInterval Date::timeIntervalSinceNow() const { return timeIntervalSinceDate(Date::now()); }

Date SystemClock::now() const { return systemNow(); }

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
    systemClockInstalled.store(dynamic_cast<SystemClock*>(clock.get()) != nullptr, std::memory_order_release);
    previous = std::exchange(slot.clock, std::move(clock));
  }
}
