#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/date.h"

class RunLoop;

// A timer scheduled on a run loop. A one-shot timer is invalid once it has fired; a timer
// invalidated from any callback (its own or another one due at the same instant) never fires again.
class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Callback = std::function<void(Timer&)>;
  ~Timer();

  void invalidate();
  bool isValid() const;
  TimeInterval timeInterval() const { return interval_; }
  bool repeats() const { return repeats_; }
  Date fireDate() const;
  // Fires the callback now without changing the schedule (a one-shot becomes invalid).
  void fire();

 private:
  friend class RunLoop;
  Timer(TimeInterval interval, bool repeats, Callback cb);
  struct State;
  std::shared_ptr<State> state_;
  TimeInterval interval_;
  bool repeats_;
};

// The main thread's loop of posted tasks and timers. post(), scheduledTimer(), stop() and the
// Timer methods are safe from any thread; everything else is called on the loop's own thread.
// A task or callback that throws is reported on stderr; the exception never leaves the loop.
//
// With the system clock run() sleeps until the next timer or post. With a virtual clock installed
// (tests) time stands still until advance() moves it; runUntil() still waits in real time for tasks
// posted from other threads (network completions), bounded by its timeout.
class RunLoop {
 public:
  static RunLoop& main();

  // Thread-safe; tasks run in the order posted, each on a later turn of the loop.
  void post(std::function<void()> task);

  // interval 0 fires on the next turn. The loop keeps the timer alive until it is invalid. A
  // repeating timer keeps its cadence from its due times: after a stall it fires once, then
  // skips the missed intervals; its interval is at least 0.1 ms.
  std::shared_ptr<Timer> scheduledTimer(TimeInterval interval, bool repeats, Timer::Callback callback);

  // Runs until stop() is called (the application's main loop). A stop() that came before run()
  // makes it return at once.
  void run();
  void stop();

  // One turn: due timers, then the posted tasks present when the turn began. Waits at most
  // maxWait seconds of real time for work when there is none. Returns true if anything ran.
  bool runOnce(TimeInterval maxWait = 0);

  // Turns the loop until predicate() holds or `timeout` seconds of real time passed (virtual
  // clock: the virtual time does not move). Returns predicate(). The predicate is looked at
  // after every turn and every few milliseconds, so it may watch state set by other threads.
  bool runUntil(const std::function<bool()>& predicate, TimeInterval timeout = 5.0);

  // Runs everything already due (posted tasks and timers due now, and what they post) without
  // waiting for other threads.
  void runUntilIdle();

  // Virtual clock only (a programming error otherwise): moves time forward by `seconds`, firing
  // each timer at its due time in order and running posted tasks in between.
  void advance(TimeInterval seconds);

  // True on the thread that runs this loop: the process's main thread (main() is first called
  // while static objects are initialised).
  bool isCurrentThread() const;
  static bool isMainThread() { return main().isCurrentThread(); }

  // Drops every pending task and timer (between tests).
  void reset();

  struct Impl;

 private:
  RunLoop();
  std::unique_ptr<Impl> impl_;
};

namespace foundation_detail {
// Runs `work`, reporting on stderr instead of letting an exception escape; `where` names the caller.
void invokeSafely(const std::function<void()>& work, const char* where) noexcept;
}  // namespace foundation_detail
