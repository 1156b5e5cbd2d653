#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/foundation/dispatch.h"
#include "platform/net/connection_slots.h"
#include "platform/net/inline_call.h"

namespace net_detail {

class Transfer;

// The one thread that owns libcurl's multi handle and every easy handle. Other threads only
// post() commands; everything else is called on the engine thread.
class CurlEngine {
 public:
  using Clock = std::chrono::steady_clock;

  static CurlEngine& shared();

  // Runs `command` on the engine thread, in posting order. Dropped once the process is exiting.
  void post(std::function<void()> command);
  bool isEngineThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Engine thread only: the time the current step of the engine's turn began, which is what
  // transfers count as their last activity (a clock read per curl callback cost more).
  Clock::time_point turnTime() const { return turnTime_; }
  // Engine thread only: the number of the current turn.
  std::uint64_t turn() const { return turn_; }

  // Engine thread only. Easy handles are reused so their connections and caches stay warm.
  // A "plain" configuration (see Transfer::plainKindOf) of a given kind (non-zero) always sets the
  // same options, so a handle whose last transfer was plain and ended well keeps them: asked for
  // the same kind again it comes back primed, and only the options whose values differ need
  // setting. Any other handle is reset before it is used again, so no option outlives the
  // request that set it.
  struct Easy {
    CURL* handle = nullptr;
    bool primed = false;
  };
  Easy acquireEasy(unsigned plainKind);
  // `plainKind` 0: the handle's options are not kept.
  void releaseEasy(CURL* easy, unsigned plainKind);
  // Starts the transfer's easy handle; the engine tells the transfer when it is done.
  bool add(CURL* easy, std::shared_ptr<Transfer> transfer);
  void remove(Transfer& transfer);
  // Engine thread only.
  ConnectionSlots& connectionSlots() { return slots_; }
  // Runs `work` on `queue` after what the engine handed over before it. Work of one engine turn
  // goes out when the turn ends, consecutive work for one queue as one block: a small transfer's
  // response, body and completion then cost its queue a single wake-up. Off the engine thread
  // the work is posted at once.
  template <class F>
  static void deliver(const std::shared_ptr<DispatchQueue>& queue, F&& work) {
    if (!onEngineThread()) {
      queue->async(std::function<void()>(std::forward<F>(work)));
      return;
    }
    outboxSlot(queue).emplace(std::forward<F>(work));
  }

 private:
  // What one turn sends one queue, in order; a fetch's response, body, completion and the release
  // of its in-flight share fit in place.
  struct DeliveryBlock {
    std::array<InlineCall, 4> calls;
    std::size_t count = 0;
    std::vector<InlineCall> more;
    void operator()();
  };
  struct Delivery {
    std::shared_ptr<DispatchQueue> queue;
    DeliveryBlock block;
  };

  static bool onEngineThread();
  // Engine thread: the next place in this turn's block for `queue`.
  static InlineCall& outboxSlot(const std::shared_ptr<DispatchQueue>& queue);

  CurlEngine();
  void run();
  void stop();
  void flushDeliveries();
  void wake();
  // Waits up to `waitMs` for a socket of a transfer or a wake-up.
  void waitForWork(int waitMs);

  std::mutex mutex_;
  std::vector<std::function<void()>> commands_;
  std::vector<std::function<void()>> running_;  // engine thread: the commands of this turn
  bool stopping_ = false;
  // About to wait, or waiting, for sockets with no wake-up written yet: the next post writes one.
  bool sleeping_ = false;
  // Written to wake the engine's wait: one write and one read per wake-up, where curl's own
  // wake-up socket costs a send and two reads.
  int wakeFd_ = -1;
  Clock::time_point turnTime_ = Clock::now();
  std::uint64_t turn_ = 0;

  CURLM* multi_ = nullptr;
  struct IdleEasy {
    CURL* handle;
    unsigned plainKind;  // the plain configuration it carries, else 0 (reset)
  };
  std::vector<IdleEasy> idle_;
  // Transfers with a handle on the multi handle; each knows its slot (Transfer::activeSlot_).
  std::vector<std::shared_ptr<Transfer>> active_;
  std::vector<std::shared_ptr<Transfer>> expired_;  // engine thread: scratch of the timeout scan
  ConnectionSlots slots_;
  std::vector<Delivery> outbox_;
  // The most calls a block held beyond its own places in the last turn: many fetches ending in one
  // turn come again in the next, and their block's list then grows without moving them.
  std::size_t lastOverflow_ = 0;
  std::thread thread_;
};

// A completion that runs at most once; when every copy is dropped uncalled, `fallback` runs
// instead (on the thread that dropped the last copy).
template <class... Args>
std::function<void(Args...)> makeOnce(std::type_identity_t<std::function<void(Args...)>> action,
                                      std::function<void()> fallback) {
  struct State {
    std::mutex mutex;
    bool done = false;
    std::function<void(Args...)> action;
    std::function<void()> fallback;
    ~State() {
      if (!done && fallback) fallback();
    }
  };
  auto state = std::make_shared<State>();
  state->action = std::move(action);
  state->fallback = std::move(fallback);
  return [state](Args... args) {
    std::function<void(Args...)> run;
    {
      std::lock_guard lock(state->mutex);
      if (state->done) return;
      state->done = true;
      run = std::move(state->action);
      state->fallback = nullptr;
    }
    run(std::forward<Args>(args)...);
  };
}

}  // namespace net_detail
