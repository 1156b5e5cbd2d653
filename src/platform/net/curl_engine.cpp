#include "platform/net/curl_engine.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/foundation/run_loop.h"
#include "platform/net/transfer.h"

namespace net_detail {

namespace {
CurlEngine* sharedEngine = nullptr;
constexpr long kIdleConnections = 32;
// How long a response held for its body may keep the engine from waiting longer: a body written
// right behind its headers arrives well within it.
constexpr long kHeldResponseWaitMs = 1;
thread_local bool onThisEngineThread = false;
}  // namespace

CurlEngine& CurlEngine::shared() {
  // Never destroyed: transfers may still hold delegate queues of other static objects at exit.
  // The thread is stopped and joined at exit instead.
  static CurlEngine* const engine = [] {
    sharedEngine = new CurlEngine();
    std::atexit([] { sharedEngine->stop(); });
    return sharedEngine;
  }();
  return *engine;
}

CurlEngine::CurlEngine() {
  curl_global_init(CURL_GLOBAL_ALL);
  multi_ = curl_multi_init();
  // curl's default keeps four idle connections per easy handle added at the moment one is
  // returned; transfers come and go one by one here, so a burst to one host kept reconnecting.
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kIdleConnections);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

void CurlEngine::post(std::function<void()> command) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    commands_.push_back(std::move(command));
    // One wake-up per sleep: the posts that follow it before the engine's next turn find the
    // engine woken already.
    wake = std::exchange(sleeping_, false);
  }
  // A busy engine finds the command on its next turn; the count stays in the eventfd, so a
  // wake-up written just before the engine waits still ends the wait.
  if (wake) this->wake();
}

void CurlEngine::wake() {
  if (wakeFd_ < 0) {
    curl_multi_wakeup(multi_);
    return;
  }
  const std::uint64_t one = 1;
  while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void CurlEngine::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake();
  if (thread_.joinable()) thread_.join();
}

CurlEngine::Easy CurlEngine::acquireEasy(unsigned plainKind) {
  if (idle_.empty()) return {curl_easy_init(), false};
  const IdleEasy easy = idle_.back();
  idle_.pop_back();
  if (easy.plainKind != 0 && easy.plainKind == plainKind) return {easy.handle, true};
  if (easy.plainKind != 0) curl_easy_reset(easy.handle);
  return {easy.handle, false};
}

void CurlEngine::releaseEasy(CURL* easy, unsigned plainKind) {
  if (idle_.size() >= 16) {
    curl_easy_cleanup(easy);
    return;
  }
  if (plainKind == 0) curl_easy_reset(easy);
  idle_.push_back({easy, plainKind});
}

bool CurlEngine::add(CURL* easy, std::shared_ptr<Transfer> transfer) {
  if (curl_multi_add_handle(multi_, easy) != CURLM_OK) return false;
  transfer->activeSlot_ = active_.size();
  active_.push_back(std::move(transfer));
  return true;
}

void CurlEngine::remove(Transfer& transfer) {
  const std::size_t slot = transfer.activeSlot_;
  if (slot >= active_.size() || active_[slot].get() != &transfer) return;
  // Dropped only once the handle is off the multi handle.
  std::shared_ptr<Transfer> held = std::move(active_[slot]);
  if (slot + 1 != active_.size()) {
    active_[slot] = std::move(active_.back());
    active_[slot]->activeSlot_ = slot;
  }
  active_.pop_back();
  transfer.activeSlot_ = Transfer::kNoSlot;
  curl_multi_remove_handle(multi_, transfer.easy_);
}

bool CurlEngine::onEngineThread() { return onThisEngineThread; }

InlineCall& CurlEngine::outboxSlot(const std::shared_ptr<DispatchQueue>& queue) {
  auto& engine = *sharedEngine;
  auto& outbox = engine.outbox_;
  if (outbox.empty() || outbox.back().queue != queue) outbox.emplace_back().queue = queue;
  auto& block = outbox.back().block;
  if (block.count < block.calls.size()) return block.calls[block.count++];
  if (block.more.empty()) block.more.reserve(std::clamp<std::size_t>(engine.lastOverflow_, 4, 1024));
  return block.more.emplace_back();
}

void CurlEngine::DeliveryBlock::operator()() {
  // A place stays empty when making its call threw.
  for (std::size_t i = 0; i < count; ++i) {
    if (calls[i]) foundation_detail::invokeSafely([&] { calls[i](); }, "URL session delegate queue");
  }
  for (auto& call : more) {
    if (call) foundation_detail::invokeSafely([&] { call(); }, "URL session delegate queue");
  }
}

void CurlEngine::flushDeliveries() {
  lastOverflow_ = 0;
  for (auto& delivery : outbox_) {
    auto& block = delivery.block;
    lastOverflow_ = std::max(lastOverflow_, block.more.size());
    // Alone, as most completion handlers' answers are, a call goes out in a holder its own size;
    // several go in one allocation.
    if (block.count == 1) {
      delivery.queue->async(block.calls[0].release());
    } else {
      delivery.queue->async(std::move(block));
    }
  }
  outbox_.clear();
}

void CurlEngine::waitForWork(int waitMs) {
  if (wakeFd_ < 0) {
    curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
    return;
  }
  curl_waitfd wakeUp{wakeFd_, CURL_WAIT_POLLIN, 0};
  // Always something to wait for (the eventfd), so this waits even with no transfer running.
  curl_multi_wait(multi_, &wakeUp, 1, waitMs, nullptr);
  if (wakeUp.revents & CURL_WAIT_POLLIN) {
    std::uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }
}

void CurlEngine::run() {
  onThisEngineThread = true;
  for (;;) {
    ++turn_;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      running_.swap(commands_);
      sleeping_ = false;
    }
    if (!running_.empty()) {
      turnTime_ = Clock::now();
      for (auto& command : running_) command();
      running_.clear();
    }

    turnTime_ = Clock::now();
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* finished = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &finished);
      if (!finished || finished->activeSlot_ >= active_.size() || active_[finished->activeSlot_].get() != finished)
        continue;
      auto transfer = active_[finished->activeSlot_];
      CURLcode result = msg->data.result;
      transfer->hopFinished(result);
    }

    // The time curl's step began: activity in it is stamped no later, so none counts as idle.
    const auto now = turnTime_;
    long waitMs = 1000;
    // Waits for a connection first: a slot that a timed-out hop frees below goes to a hop whose
    // timeout has not run out too.
    slots_.expired(now, expired_);
    for (const auto& transfer : expired_) transfer->waitTimedOut();
    expired_.clear();
    if (const auto due = slots_.nextDeadline(); due != Clock::time_point::max()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
      waitMs = std::min<long>(waitMs, std::max<long>(left + 1, 1));
    }
    // Timing out ends transfers, which takes them off active_: those go after the scan.
    for (const auto& transfer : active_) {
      if (transfer->holdsResponse()) {
        if (transfer->responseHeldInTurn() != turn_) {
          transfer->releaseHeldResponse();
        } else {
          waitMs = std::min(waitMs, kHeldResponseWaitMs);
        }
      }
      const auto deadline = transfer->deadline();
      if (deadline <= now) {
        expired_.push_back(transfer);
        continue;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      waitMs = std::min<long>(waitMs, std::max<long>(left + 1, 1));
    }
    for (const auto& transfer : expired_) transfer->checkTimeout(now);
    expired_.clear();
    long curlWait = -1;
    curl_multi_timeout(multi_, &curlWait);
    if (curlWait >= 0) waitMs = std::min(waitMs, curlWait);
    flushDeliveries();
    {
      std::lock_guard lock(mutex_);
      if (!commands_.empty()) waitMs = 0;
      sleeping_ = waitMs > 0;
    }
    // Awake again, the next turn's lock clears sleeping_: a command posted in between costs at
    // most a wake-up that ends the next wait at once.
    if (waitMs > 0) waitForWork(static_cast<int>(waitMs));
  }
  flushDeliveries();
}

}  // namespace net_detail
