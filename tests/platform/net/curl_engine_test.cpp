#include "platform/net/curl_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "support/virtual_time.h"

namespace {

using net_detail::CurlEngine;

// Runs work on the main loop and counts the hand-overs it was given.
class CountingQueue : public DispatchQueue {
 public:
  CountingQueue() : DispatchQueue("counting") {}
  void async(std::function<void()> work) override {
    {
      std::lock_guard lock(mutex_);
      ++handOvers_;
    }
    RunLoop::main().post(std::move(work));
  }
  void sync(const std::function<void()>& work) override { work(); }
  bool isCurrent() const override { return RunLoop::isMainThread(); }
  int handOvers() const {
    std::lock_guard lock(mutex_);
    return handOvers_;
  }

 private:
  mutable std::mutex mutex_;
  int handOvers_ = 0;
};

TEST(CurlEngineTest, WhatOneTurnDeliversReachesEachQueueInOneHandOverInOrder) {
  VirtualTime time;
  auto first = std::make_shared<CountingQueue>();
  auto second = std::make_shared<CountingQueue>();
  std::vector<std::string> ran;  // main thread only
  CurlEngine::shared().post([&] {
    CurlEngine::deliver(first, [&] { ran.push_back("response"); });
    CurlEngine::deliver(first, [&] { ran.push_back("data"); });
    CurlEngine::deliver(second, [&] { ran.push_back("other"); });
    CurlEngine::deliver(first, [&] { ran.push_back("complete"); });
  });
  ASSERT_TRUE(time.runUntil([&] { return ran.size() == 4; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"response", "data", "other", "complete"}));
  // The queue changed in between: the last call needs a hand-over of its own.
  EXPECT_EQ(std::pair(first->handOvers(), second->handOvers()), std::pair(2, 1));

  // Off the engine thread nothing waits for a turn.
  CurlEngine::deliver(first, [&] { ran.push_back("at once"); });
  EXPECT_EQ(first->handOvers(), 3);
  time.runUntilIdle();
  EXPECT_EQ(ran.back(), "at once");
}

// More calls than a block keeps in place, one too large for the space, one that throws: all run
// in order in one hand-over, and what they hold is let go once the block has run.
TEST(CurlEngineTest, ALongBlockRunsEveryCallInOrderAndLetsGoOfTheirCaptures) {
  VirtualTime time;
  auto queue = std::make_shared<CountingQueue>();
  std::vector<int> ran;
  auto held = std::make_shared<int>(0);
  CurlEngine::shared().post([&, held] {
    for (int i = 0; i < 3; ++i) CurlEngine::deliver(queue, [&ran, held, i] { ran.push_back(i); });
    std::array<char, 4 * net_detail::InlineCall::kSpace> large{};
    large[7] = 3;
    CurlEngine::deliver(queue, [&ran, held, large] { ran.push_back(large[7]); });
    CurlEngine::deliver(queue, [] { throw std::runtime_error("a delegate failed"); });
    for (int i = 4; i < 7; ++i) CurlEngine::deliver(queue, [&ran, held, i] { ran.push_back(i); });
  });
  ASSERT_TRUE(time.runUntil([&] { return ran.size() == 7; }));
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(queue->handOvers(), 1);
  time.runUntilIdle();
  EXPECT_EQ(held.use_count(), 1);
}

// The engine is woken once per sleep: commands posted while it is busy, and the ones that follow
// a wake-up before the engine's next turn, must still run, in posting order.
TEST(CurlEngineTest, CommandsPostedWhileTheEngineIsBusyOrWokenAllRun) {
  VirtualTime time;
  std::mutex mutex;
  std::vector<int> ran;
  auto record = [&](int n) {
    std::lock_guard lock(mutex);
    ran.push_back(n);
  };
  auto count = [&] {
    std::lock_guard lock(mutex);
    return ran.size();
  };
  std::promise<void> postedWhileBusy;
  CurlEngine::shared().post([&, posted = postedWhileBusy.get_future().share()] {
    posted.wait();  // the engine is busy while the next commands arrive
    record(0);
  });
  CurlEngine::shared().post([&] { record(1); });
  CurlEngine::shared().post([&] { record(2); });
  postedWhileBusy.set_value();
  ASSERT_TRUE(time.runUntil([&] { return count() == 3; }));

  // Asleep now: the first post wakes it, the ones behind it write nothing.
  for (int i = 3; i < 50; ++i) CurlEngine::shared().post([&, i] { record(i); });
  ASSERT_TRUE(time.runUntil([&] { return count() == 50; }));
  std::lock_guard lock(mutex);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
}

}  // namespace
