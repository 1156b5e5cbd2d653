#include "platform/foundation/run_loop.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/fatal_error.h"

void foundation_detail::invokeSafely(const std::function<void()>& work, const char* where) noexcept {
  if (!work) return;
  try {
    work();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: uncaught exception: %s\n", where, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: uncaught exception of unknown type\n", where);
  }
}

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr TimeInterval kMinimumRepeatInterval = 0.0001;
// Longer waits are treated as "forever"; keeps the time arithmetic far from overflow.
constexpr TimeInterval kLongestWait = 365.0 * 24 * 3600;
// runUntil() also looks at its predicate this often, for state that other threads change
// without posting.
constexpr auto kPredicatePollInterval = std::chrono::milliseconds(5);

SteadyClock::time_point deadlineAfter(TimeInterval seconds) {
  const TimeInterval clamped = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, kLongestWait);
  return SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(clamped));
}

double clockNow() { return Date::now().timeIntervalSinceReferenceDate; }

// The loop sleeps on a futex word, not a condition variable: glibc's condition variable takes its
// mutex back as contended after every wait, so each wake-up cost one more system call to unlock.
using WakeWord = std::atomic<std::uint32_t>;
static_assert(sizeof(WakeWord) == sizeof(std::uint32_t));

std::uint32_t* futexAddress(WakeWord& word) { return reinterpret_cast<std::uint32_t*>(&word); }

// Sleeps while `word` still holds `seen`, until `deadline` at the latest (steady_clock is the
// monotonic clock, which FUTEX_WAIT_BITSET measures absolute timeouts in).
void futexWait(WakeWord& word, std::uint32_t seen, SteadyClock::time_point deadline) {
  const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
  timespec at{};
  at.tv_sec = static_cast<time_t>(since / 1'000'000'000);
  at.tv_nsec = static_cast<long>(since % 1'000'000'000);
  ::syscall(SYS_futex, futexAddress(word), FUTEX_WAIT_BITSET_PRIVATE, seen, &at, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futexWakeAll(WakeWord& word) {
  ::syscall(SYS_futex, futexAddress(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace

// Schedule fields are guarded by the owning loop's mutex; `valid` is also read without it.
struct Timer::State {
  RunLoop::Impl* loop = nullptr;
  std::shared_ptr<Callback> callback;
  double fireDate = 0;
  std::uint64_t order = 0;
  bool scheduled = false;
  std::atomic<bool> valid{true};
};

struct RunLoop::Impl {
  using TimerKey = std::pair<double, std::uint64_t>;  // (due time, scheduling order)
  struct Task {
    std::uint64_t order;
    std::function<void()> work;
  };

  std::thread::id owner;
  mutable std::mutex mutex;
  WakeWord wakeWord{0};  // changed (under the mutex) by every wake-up of sleepers
  int sleepers = 0;      // threads in waitForWork that no wake-up has reached yet
  std::deque<Task> tasks;
  std::uint64_t nextTaskOrder = 0;
  std::map<TimerKey, std::shared_ptr<Timer>> timers;
  std::uint64_t nextTimerOrder = 0;
  bool stopRequested = false;
  // The sizes of `tasks` and `timers`, written under the mutex and read without it, so that a turn
  // with nothing to do and a woken sleep with a task waiting take no lock.
  std::atomic<std::size_t> taskCount{0};
  std::atomic<std::size_t> timerCount{0};
  // The earliest due time on the schedule (infinity when none), so that a turn with a timer still
  // to come takes the usual path.
  std::atomic<double> firstDue{std::numeric_limits<double>::infinity()};

  void timersChangedLocked() {
    timerCount.store(timers.size(), std::memory_order_release);
    firstDue.store(timers.empty() ? std::numeric_limits<double>::infinity() : timers.begin()->first.first,
                   std::memory_order_release);
  }

  void countLocked() {
    taskCount.store(tasks.size(), std::memory_order_release);
    timersChangedLocked();
  }

  // Caller holds the mutex. Moves the first task posted before `limit` into `work` (false when
  // there is none); `more` tells whether another such task waits behind it.
  bool popTaskLocked(std::uint64_t limit, std::function<void()>& work, bool& more) {
    more = false;
    if (tasks.empty() || tasks.front().order >= limit) return false;
    work = std::move(tasks.front().work);
    tasks.pop_front();
    taskCount.store(tasks.size(), std::memory_order_release);
    more = !tasks.empty() && tasks.front().order < limit;
    return true;
  }

  // Takes `timer` off the schedule; the caller destroys the returned references after unlocking,
  // since a callback's captures may call back into the loop.
  std::shared_ptr<Timer> unscheduleLocked(Timer::State& s) {
    std::shared_ptr<Timer> held;
    if (s.scheduled) {
      auto node = timers.extract({s.fireDate, s.order});
      if (node) held = std::move(node.mapped());
      s.scheduled = false;
      timersChangedLocked();
    }
    return held;
  }

  std::optional<double> earliestDueLocked() const {
    if (timers.empty()) return std::nullopt;
    return timers.begin()->first.first;
  }

  bool fireIfDue(const std::shared_ptr<Timer>& timer, double now) {
    Timer::State& s = *timer->state_;
    std::shared_ptr<Timer::Callback> callback;
    {
      std::lock_guard lock(mutex);
      if (!s.valid || !s.scheduled || s.fireDate > now) return false;
      auto node = timers.extract({s.fireDate, s.order});
      if (timer->repeats_) {
        // Keep the cadence of the due times; after a stall skip what was missed instead of
        // catching up in a burst.
        double next = s.fireDate + timer->interval_;
        if (next <= now) next += std::floor((now - next) / timer->interval_) * timer->interval_;
        while (next <= now) next += timer->interval_;
        s.fireDate = next;
        node.key() = {s.fireDate, s.order};
        timers.insert(std::move(node));
      } else {
        s.scheduled = false;  // the caller's reference keeps the timer alive while it fires
      }
      timersChangedLocked();
      callback = s.callback;
    }
    if (callback) foundation_detail::invokeSafely([&] { (*callback)(*timer); }, "Timer");
    if (!timer->repeats_) timer->invalidate();
    return true;
  }

  // One turn: timers due when it began, then the tasks posted before it began.
  bool turn() {
    // Nothing queued or due: a post or a timer racing with this look counts as made after the
    // turn began. The clock is read only while a timer waits.
    const bool timersDue = timerCount.load(std::memory_order_acquire) != 0 &&
                           firstDue.load(std::memory_order_acquire) <= clockNow();
    if (!timersDue && taskCount.load(std::memory_order_acquire) == 0) return false;
    std::function<void()> work;
    std::uint64_t taskLimit = 0;
    bool ran = false;
    bool have = false;
    bool more = false;
    {
      std::unique_lock lock(mutex);
      taskLimit = nextTaskOrder;
      if (!timersDue) {
        // The usual turn: no timer due, so the first task comes with the look at the queue.
        have = popTaskLocked(taskLimit, work, more);
        if (!have) return false;
      } else {
        lock.unlock();
        ran = fireDueTimers(taskLimit);
        more = true;
      }
    }
    // One task at a time from the shared queue, so a nested loop started by a task keeps the order.
    for (;;) {
      if (have) {
        ran = true;
        foundation_detail::invokeSafely(work, "RunLoop task");
        work = nullptr;
      }
      if (!more) break;
      std::lock_guard lock(mutex);
      have = popTaskLocked(taskLimit, work, more);
      if (!have) break;
    }
    return ran;
  }

  // Fires the timers due now (the clock is read only when there are timers to compare with it);
  // `taskLimit` becomes the order of the next task posted after the due ones were picked.
  bool fireDueTimers(std::uint64_t& taskLimit) {
    std::vector<std::shared_ptr<Timer>> due;
    const double now = clockNow();
    {
      std::lock_guard lock(mutex);
      for (auto it = timers.begin(); it != timers.end() && it->first.first <= now; ++it) {
        due.push_back(it->second);
      }
      taskLimit = nextTaskOrder;
    }
    bool ran = false;
    for (const auto& timer : due) ran = fireIfDue(timer, now) || ran;
    return ran;
  }

  // Caller holds the mutex. True when sleepers are to be woken (wakeSleepers(), after unlocking, so
  // that they do not wake into a held mutex).
  bool takeSleepersLocked() {
    if (sleepers == 0) return false;
    sleepers = 0;
    wakeWord.store(wakeWord.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return true;
  }
  void wakeSleepers() { futexWakeAll(wakeWord); }

  // Sleeps until a task is posted, a timer is due (the system clock only moves timers into the
  // past by itself), `deadline` passes or, for run(), stop() is called.
  void waitForWork(SteadyClock::time_point deadline, bool honourStop) {
    std::unique_lock lock(mutex);
    for (;;) {
      if (!tasks.empty() || (honourStop && stopRequested)) return;
      auto wakeAt = deadline;
      if (auto due = earliestDueLocked()) {
        const double untilDue = *due - clockNow();
        if (untilDue <= 0) return;
        if (usingSystemClock() || !currentClock()->isVirtual()) wakeAt = std::min(wakeAt, deadlineAfter(untilDue));
      }
      if (SteadyClock::now() >= wakeAt) return;
      const std::uint32_t seen = wakeWord.load(std::memory_order_relaxed);
      ++sleepers;
      lock.unlock();
      futexWait(wakeWord, seen, wakeAt);
      // Woken with a task waiting: the caller's turn takes it under the lock anyway.
      if (taskCount.load(std::memory_order_acquire) != 0 && wakeWord.load(std::memory_order_relaxed) != seen) return;
      lock.lock();
      // A wake-up took this sleeper off the count already; a timeout or a spurious return did not.
      if (wakeWord.load(std::memory_order_relaxed) == seen) --sleepers;
    }
  }

  void reset() {
    std::deque<Task> droppedTasks;
    std::map<TimerKey, std::shared_ptr<Timer>> droppedTimers;
    std::vector<std::shared_ptr<Timer::Callback>> droppedCallbacks;
    {
      std::lock_guard lock(mutex);
      droppedTasks.swap(tasks);
      droppedTimers.swap(timers);
      for (auto& [key, timer] : droppedTimers) {
        timer->state_->valid = false;
        timer->state_->scheduled = false;
        droppedCallbacks.push_back(std::move(timer->state_->callback));
      }
      stopRequested = false;
      countLocked();
    }
  }
};

Timer::Timer(TimeInterval interval, bool repeats, Callback cb)
    : state_(std::make_shared<State>()), interval_(interval), repeats_(repeats) {
  state_->callback = std::make_shared<Callback>(std::move(cb));
}

Timer::~Timer() = default;

void Timer::invalidate() {
  std::shared_ptr<Timer> held;
  std::shared_ptr<Callback> callback;
  RunLoop::Impl* loop = state_->loop;
  if (!loop) return;
  std::lock_guard lock(loop->mutex);
  if (!state_->valid) return;
  state_->valid = false;
  held = loop->unscheduleLocked(*state_);
  // Dropping the callback releases what it captured; a callback running right now keeps its own
  // reference until it returns.
  callback = std::move(state_->callback);
  // `held` and `callback` are released after the lock (declared before the guard).
}

bool Timer::isValid() const { return state_->valid; }

Date Timer::fireDate() const {
  if (!state_->loop) return Date{state_->fireDate};
  std::lock_guard lock(state_->loop->mutex);
  return Date{state_->fireDate};
}

void Timer::fire() {
  if (!state_->valid || !state_->loop) return;
  std::shared_ptr<Callback> callback;
  {
    std::lock_guard lock(state_->loop->mutex);
    callback = state_->callback;
  }
  if (callback) foundation_detail::invokeSafely([&] { (*callback)(*this); }, "Timer");
  if (!repeats_) invalidate();
}

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) { impl_->owner = std::this_thread::get_id(); }

RunLoop& RunLoop::main() {
  // Never destroyed: other threads may still post while the process exits.
  static auto* loop = new RunLoop();
  return *loop;
}

namespace {
// Binds the main loop to the process's main thread before any other thread can touch it first.
[[maybe_unused]] const bool kMainLoopBound = (RunLoop::main(), true);
}  // namespace

void RunLoop::post(std::function<void()> task) {
  bool wake;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->tasks.push_back({impl_->nextTaskOrder++, std::move(task)});
    impl_->taskCount.store(impl_->tasks.size(), std::memory_order_release);
    wake = impl_->takeSleepersLocked();
  }
  if (wake) impl_->wakeSleepers();
}

std::shared_ptr<Timer> RunLoop::scheduledTimer(TimeInterval interval, bool repeats, Timer::Callback callback) {
  if (std::isnan(interval) || interval < 0) interval = 0;
  if (repeats) interval = std::max(interval, kMinimumRepeatInterval);
  std::shared_ptr<Timer> timer(new Timer(interval, repeats, std::move(callback)));
  const double due = clockNow() + interval;
  bool wake;
  {
    std::lock_guard lock(impl_->mutex);
    auto& s = *timer->state_;
    s.loop = impl_.get();
    s.fireDate = due;
    s.order = impl_->nextTimerOrder++;
    s.scheduled = true;
    impl_->timers.emplace(Impl::TimerKey{s.fireDate, s.order}, timer);
    impl_->timersChangedLocked();
    wake = impl_->takeSleepersLocked();
  }
  if (wake) impl_->wakeSleepers();
  return timer;
}

void RunLoop::run() {
  for (;;) {
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->stopRequested) {
        impl_->stopRequested = false;
        return;
      }
    }
    if (!impl_->turn()) impl_->waitForWork(deadlineAfter(kLongestWait), true);
  }
}

void RunLoop::stop() {
  bool wake;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
    wake = impl_->takeSleepersLocked();
  }
  if (wake) impl_->wakeSleepers();
}

bool RunLoop::runOnce(TimeInterval maxWait) {
  if (impl_->turn()) return true;
  if (!(maxWait > 0)) return false;
  impl_->waitForWork(deadlineAfter(maxWait), false);
  return impl_->turn();
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, TimeInterval timeout) {
  const auto deadline = deadlineAfter(timeout);
  for (;;) {
    if (predicate()) return true;
    const bool ran = impl_->turn();
    if (SteadyClock::now() >= deadline) return predicate();
    if (!ran) impl_->waitForWork(std::min(deadline, SteadyClock::now() + kPredicatePollInterval), false);
  }
}

void RunLoop::runUntilIdle() {
  while (impl_->turn()) {
  }
}

void RunLoop::advance(TimeInterval seconds) {
  auto clock = std::dynamic_pointer_cast<VirtualClock>(currentClock());
  if (!clock) fatalError("RunLoop::advance needs a virtual clock");
  if (!(seconds > 0)) seconds = 0;
  const double target = clock->now().timeIntervalSinceReferenceDate + seconds;
  runUntilIdle();
  for (;;) {
    std::optional<double> due;
    {
      std::lock_guard lock(impl_->mutex);
      due = impl_->earliestDueLocked();
    }
    if (!due || *due > target) break;
    if (*due > clock->now().timeIntervalSinceReferenceDate) clock->setNow(Date{*due});
    runUntilIdle();
  }
  if (clock->now().timeIntervalSinceReferenceDate < target) clock->setNow(Date{target});
  runUntilIdle();
}

bool RunLoop::isCurrentThread() const { return std::this_thread::get_id() == impl_->owner; }

void RunLoop::reset() { impl_->reset(); }
