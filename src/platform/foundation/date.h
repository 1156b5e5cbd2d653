#pragma once

#include <atomic>
#include <compare>
#include <memory>

// Seconds, as the platform counts them.
using TimeInterval = double;

// A point in time: seconds since the reference date 2001-01-01 00:00:00 UTC.
struct Date {
  TimeInterval timeIntervalSinceReferenceDate = 0;

  // Seconds between the Unix epoch and the reference date.
  static constexpr TimeInterval kReferenceDateUnixOffset = 978307200.0;

  static Date now();  // reads the current clock
  static Date dateWithTimeIntervalSince1970(TimeInterval t) { return Date{t - kReferenceDateUnixOffset}; }
  static Date distantFuture() { return Date{63113904000.0}; }
  static Date distantPast() { return Date{-63114076800.0}; }

  TimeInterval timeIntervalSince1970() const { return timeIntervalSinceReferenceDate + kReferenceDateUnixOffset; }
  TimeInterval timeIntervalSinceDate(Date other) const {
    return timeIntervalSinceReferenceDate - other.timeIntervalSinceReferenceDate;
  }
  TimeInterval timeIntervalSinceNow() const;
  Date dateByAddingTimeInterval(TimeInterval t) const { return Date{timeIntervalSinceReferenceDate + t}; }

  auto operator<=>(const Date&) const = default;
};

// Where "now" comes from. The run loop, timers and every Date::now() read the installed clock,
// so tests swap in a VirtualClock and move time by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  // True when time only moves by advance(); the run loop then never sleeps for a timer.
  virtual bool isVirtual() const { return false; }
};

class SystemClock final : public Clock {
 public:
  Date now() const override;
};

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(Date start = Date{0}) : now_(start.timeIntervalSinceReferenceDate) {}
  Date now() const override;
  bool isVirtual() const override { return true; }
  void setNow(Date d);
  void advance(TimeInterval seconds);

 private:
  std::atomic<double> now_;
};

// The process-wide clock; the system clock unless a test installs another.
std::shared_ptr<Clock> currentClock();
void setCurrentClock(std::shared_ptr<Clock> clock);
// True while the system clock is installed; unlike currentClock() it takes no lock.
bool usingSystemClock();
