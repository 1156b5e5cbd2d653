#include "platform/foundation/dispatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

#include "platform/foundation/fatal_error.h"
#include "platform/foundation/run_loop.h"

DispatchQueue::~DispatchQueue() = default;

void DispatchQueue::after(TimeInterval delay, std::function<void()> work) {
  RunLoop::main().scheduledTimer(delay, false,
                                 [queue = shared_from_this(), work = std::move(work)](Timer&) { queue->async(work); });
}

namespace {

class MainQueue final : public DispatchQueue {
 public:
  MainQueue() : DispatchQueue("main") {}

  void async(std::function<void()> work) override { RunLoop::main().post(std::move(work)); }

  void sync(const std::function<void()>& work) override {
    if (isCurrent()) {
      foundation_detail::invokeSafely(work, "DispatchQueue main");
      return;
    }
    // Signals when the posted task is gone, whether it ran or a reset() dropped it, so the
    // caller never waits forever.
    struct Done {
      std::mutex mutex;
      std::condition_variable changed;
      bool done = false;
    };
    struct SignalOnDestruction {
      std::shared_ptr<Done> d;
      ~SignalOnDestruction() {
        std::lock_guard lock(d->mutex);
        d->done = true;
        d->changed.notify_all();
      }
    };
    auto done = std::make_shared<Done>();
    std::shared_ptr<SignalOnDestruction> signal(new SignalOnDestruction{done});
    RunLoop::main().post(
        [&work, signal = std::move(signal)] { foundation_detail::invokeSafely(work, "DispatchQueue main"); });
    std::unique_lock lock(done->mutex);
    done->changed.wait(lock, [&] { return done->done; });
  }

  bool isCurrent() const override { return RunLoop::main().isCurrentThread(); }
};

// The state of a serial queue, shared with its worker thread so that the thread can outlive the
// queue object (a queue released from its own work finishes draining on its own).
struct SerialState {
  struct Item {
    std::function<void()> work;
    bool* syncGranted = nullptr;  // a sync caller waiting for its turn instead of work
  };
  std::string label;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Item> items;
  bool busy = false;  // work of this queue runs right now (on the worker or on a sync caller)
  bool stopping = false;
};

// The queues whose work the current thread is running, innermost last.
thread_local std::vector<const SerialState*> tCurrentQueues;

class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(const SerialState* s) { tCurrentQueues.push_back(s); }
  ~CurrentQueueScope() { tCurrentQueues.pop_back(); }
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;
};

void drain(const std::shared_ptr<SerialState>& s) {
  std::unique_lock lock(s->mutex);
  for (;;) {
    s->changed.wait(lock, [&] { return !s->busy && (!s->items.empty() || s->stopping); });
    if (s->items.empty()) return;
    SerialState::Item item = std::move(s->items.front());
    s->items.pop_front();
    s->busy = true;
    if (item.syncGranted) {
      // The sync caller runs its work on its own thread and clears `busy` when done.
      *item.syncGranted = true;
      s->changed.notify_all();
      continue;
    }
    lock.unlock();
    {
      CurrentQueueScope scope(s.get());
      foundation_detail::invokeSafely(item.work, s->label.c_str());
      item.work = nullptr;  // release captures outside the lock
    }
    lock.lock();
    s->busy = false;
  }
}

class SerialQueue final : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label) : DispatchQueue(label), state_(std::make_shared<SerialState>()) {
    state_->label = "DispatchQueue " + std::move(label);
    worker_ = std::thread([s = state_] { drain(s); });
  }

  ~SerialQueue() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
    }
    state_->changed.notify_all();
    // Released from its own work: joining would wait for ourselves.
    if (worker_.get_id() == std::this_thread::get_id() || isCurrent()) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  void async(std::function<void()> work) override {
    {
      std::lock_guard lock(state_->mutex);
      state_->items.push_back({std::move(work), nullptr});
    }
    state_->changed.notify_all();
  }

  // The work runs on the calling thread once the queue reaches it, so queues that sync into
  // each other in a chain (A -> B -> A) find themselves current and never wait on a thread that
  // is waiting on them.
  void sync(const std::function<void()>& work) override {
    if (isCurrent()) {
      foundation_detail::invokeSafely(work, state_->label.c_str());
      return;
    }
    bool granted = false;
    {
      std::unique_lock lock(state_->mutex);
      state_->items.push_back({nullptr, &granted});
      state_->changed.notify_all();
      state_->changed.wait(lock, [&] { return granted; });
    }
    {
      CurrentQueueScope scope(state_.get());
      foundation_detail::invokeSafely(work, state_->label.c_str());
    }
    {
      std::lock_guard lock(state_->mutex);
      state_->busy = false;
    }
    state_->changed.notify_all();
  }

  bool isCurrent() const override {
    return std::find(tCurrentQueues.begin(), tCurrentQueues.end(), state_.get()) != tCurrentQueues.end();
  }

 private:
  std::shared_ptr<SerialState> state_;
  std::thread worker_;
};

}  // namespace

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  // Never destroyed, like the main run loop.
  static auto* queue = new std::shared_ptr<DispatchQueue>(std::make_shared<MainQueue>());
  return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::make(std::string label) {
  return std::make_shared<SerialQueue>(std::move(label));
}

struct DispatchGroup::State {
  // The member count times two, plus kWatched while a waiter or a notification may be watching
  // the step to zero. Unwatched, that step takes no lock: a fetch's completion group empties once
  // per fetch with nobody waiting. Watched, the step is taken under the mutex, and the flag is set
  // under it in the same atomic word the lock-free step changes, so neither misses the other.
  static constexpr long kWatched = 1;
  static constexpr long kMember = 2;
  std::mutex mutex;
  std::condition_variable emptied;
  std::atomic<long> word{0};
  int mainThreadWaiters = 0;
  int waiters = 0;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;

  static long members(long w) { return w / kMember; }
  // Under the mutex: the members counted as the flag went up.
  long watch() { return members(word.fetch_or(kWatched)); }
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() { state_->word.fetch_add(State::kMember); }

void DispatchGroup::leave() {
  // A leave that does not empty the group, or empties it unwatched, is one atomic step.
  long word = state_->word.load();
  while (State::members(word) > 1 || word == State::kMember) {
    if (state_->word.compare_exchange_weak(word, word - State::kMember)) return;
  }
  // The last leave lets a waiter go on and destroy the group: its state must outlive the notify.
  const auto state = state_;
  decltype(State::notifications) due;
  bool wakeMainLoop = false;
  {
    std::lock_guard lock(state->mutex);
    const long before = state->word.fetch_sub(State::kMember);
    if (State::members(before) == 0) fatalError("DispatchGroup::leave without a matching enter");
    if (State::members(before) > 1) return;
    due.swap(state->notifications);
    wakeMainLoop = state->mainThreadWaiters > 0;
    if (!state->waiters && !state->mainThreadWaiters) state->word.fetch_and(~State::kWatched);
  }
  state->emptied.notify_all();
  // A main-thread waiter sleeps in the run loop, which only a post wakes.
  if (wakeMainLoop) RunLoop::main().post([] {});
  for (auto& [queue, work] : due) queue->async(std::move(work));
}

void DispatchGroup::notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> work) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->watch() > 0) {
      state_->notifications.emplace_back(std::move(queue), std::move(work));
      return;
    }
  }
  queue->async(std::move(work));
}

bool DispatchGroup::wait(TimeInterval timeout) {
  auto isEmpty = [s = state_] { return State::members(s->word.load()) == 0; };
  if (RunLoop::isMainThread()) {
    {
      std::lock_guard lock(state_->mutex);
      ++state_->mainThreadWaiters;
      state_->watch();
    }
    const bool emptied = RunLoop::main().runUntil(isEmpty, timeout);
    std::lock_guard lock(state_->mutex);
    --state_->mainThreadWaiters;
    return emptied;
  }
  const TimeInterval bounded = std::clamp(timeout > 0 ? timeout : 0.0, 0.0, 365.0 * 24 * 3600);
  std::unique_lock lock(state_->mutex);
  ++state_->waiters;
  const bool emptied =
      state_->emptied.wait_for(lock, std::chrono::duration<double>(bounded), [&] { return state_->watch() == 0; });
  --state_->waiters;
  return emptied;
}
