#include "platform/net/curl_engine.h"

#include <gtest/gtest.h>

#include <mutex>
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

}  // namespace
