#include "platform/foundation/dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "support/virtual_time.h"

namespace {

class DispatchQueueTest : public ::testing::Test {
 protected:
  VirtualTime vt;
};
using DispatchGroupTest = DispatchQueueTest;

TEST_F(DispatchQueueTest, SerialQueueRunsInOrderOffTheMainThread) {
  auto queue = DispatchQueue::make("serial");
  std::vector<int> order;
  std::atomic<bool> offMain{true};
  for (int i = 0; i < 200; ++i) {
    queue->async([&, i] {
      order.push_back(i);
      if (RunLoop::isMainThread() || !queue->isCurrent()) offMain = false;
    });
  }
  queue->sync([] {});  // after everything queued before it
  EXPECT_TRUE(order.size() == 200 && std::ranges::is_sorted(order));
  EXPECT_TRUE(offMain && !queue->isCurrent());
}

TEST_F(DispatchQueueTest, NestedAndChainedSyncNeverDeadlock) {
  auto a = DispatchQueue::make("a");
  auto b = DispatchQueue::make("b");
  std::vector<std::string> log;
  a->sync([&] {
    log.push_back("a");
    a->sync([&] { log.push_back("a inline"); });
    b->sync([&] {
      EXPECT_TRUE(b->isCurrent());
      a->sync([&] { log.push_back("a from b"); });
    });
  });
  EXPECT_EQ(log, (std::vector<std::string>{"a", "a inline", "a from b"}));

  // The same chain started on a's own thread.
  std::atomic<bool> done{false};
  a->async([&] { b->sync([&] { a->sync([&] { done = a->isCurrent(); }); }); });
  a->sync([] {});
  EXPECT_TRUE(done);
}

TEST_F(DispatchQueueTest, MainQueueSyncFromAnotherQueueRunsOnTheMainLoop) {
  auto main = DispatchQueue::main();
  bool inline_ = false;
  main->sync([&] { inline_ = main->isCurrent(); });
  EXPECT_TRUE(inline_);

  // The worker's post wakes runUntil, which waits in real time and leaves virtual time alone.
  const Date start = vt.now();
  auto worker = DispatchQueue::make("worker");
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> finished{false};
  worker->async([&] {
    main->sync([&] { ranOnMain = RunLoop::isMainThread(); });
    finished = true;
  });
  EXPECT_TRUE(vt.runUntil([&] { return finished.load(); }));
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(vt.now(), start);
  EXPECT_FALSE(vt.runUntil([] { return false; }, 0.0));

  // A reset that drops the posted work releases the waiting caller instead of hanging it.
  std::atomic<bool> released{false};
  worker->async([&] {
    main->sync([] {});
    released = true;
  });
  for (long spins = 0; !released && spins < 100'000'000; ++spins) {
    RunLoop::main().reset();
    std::this_thread::yield();
  }
  EXPECT_TRUE(released);
}

TEST_F(DispatchQueueTest, AfterRunsOnTheVirtualClock) {
  auto queue = DispatchQueue::make("delayed");
  std::atomic<bool> ran{false};
  queue->after(60.0, [&] { ran = queue->isCurrent(); });
  for (const auto& [step, done] : {std::pair{59.9, false}, {0.1, true}}) {
    vt.advance(step);
    queue->sync([] {});
    EXPECT_EQ(ran, done) << step;
  }
}

TEST_F(DispatchQueueTest, DestroyingAQueueDrainsItsWork) {
  std::atomic<int> ran{0};
  {
    auto queue = DispatchQueue::make("short-lived");
    for (int i = 0; i < 50; ++i) queue->async([&] { ++ran; });
  }
  EXPECT_EQ(ran, 50);

  // Released by its own work: must neither deadlock nor touch freed state, and still drains.
  DispatchGroup drained;
  drained.enter();
  {
    auto queue = DispatchQueue::make("self-released");
    queue->async([q = queue]() mutable { q.reset(); });
    queue->async([&] {
      ++ran;
      drained.leave();
    });
  }
  EXPECT_TRUE(drained.wait(5.0));
  EXPECT_EQ(ran, 51);
}

TEST_F(DispatchGroupTest, NotifyRunsOnceEveryMemberLeft) {
  DispatchGroup group;
  auto queue = DispatchQueue::make("members");
  std::atomic<int> left{0};
  int leftWhenNotified = -1;
  for (int i = 0; i < 3; ++i) {
    group.enter();
    queue->async([&] {
      ++left;
      group.leave();
    });
  }
  group.notify(DispatchQueue::main(), [&] { leftWhenNotified = left; });
  EXPECT_TRUE(vt.runUntil([&] { return leftWhenNotified >= 0; }));
  EXPECT_EQ(leftWhenNotified, 3);

  bool immediate = false;
  DispatchGroup empty;
  empty.notify(DispatchQueue::main(), [&] { immediate = true; });
  EXPECT_FALSE(immediate);  // delivered on the queue, not inside notify()
  vt.runUntilIdle();
  EXPECT_TRUE(immediate);
}

// Members come and go from several threads at once; only the step to zero lets notifications go.
TEST_F(DispatchGroupTest, NotificationsWaitForTheLastOfManyMembersOnOtherThreads) {
  DispatchGroup group;
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> left{0};
  std::atomic<int> leftWhenNotified{-1};
  group.enter();  // holds the group open while the threads churn
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        group.enter();
        group.enter();
        group.leave();
        ++left;
        group.leave();
      }
    });
  }
  auto queue = DispatchQueue::make("notified");
  group.notify(queue, [&] { leftWhenNotified = left.load(); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(leftWhenNotified, -1);
  group.leave();
  EXPECT_TRUE(group.wait(5.0));
  queue->sync([] {});
  EXPECT_EQ(leftWhenNotified, kThreads * kRounds);

  // Emptied and entered again: a new notification waits for the new member.
  group.enter();
  bool again = false;
  group.notify(DispatchQueue::main(), [&] { again = true; });
  vt.runUntilIdle();
  EXPECT_FALSE(again);
  group.leave();
  vt.runUntilIdle();
  EXPECT_TRUE(again);
}

// The step to zero that nobody watches takes no lock; one racing a new notification or waiter
// must still let it go.
TEST_F(DispatchGroupTest, AStepToZeroRacingANotificationOrAWaiterNeverStrandsIt) {
  DispatchGroup group;
  auto queue = DispatchQueue::make("racing");
  constexpr int kRounds = 300;
  std::atomic<int> notified{0};
  std::atomic<int> waited{0};
  for (int i = 0; i < kRounds; ++i) {
    group.enter();
    std::thread leaver([&] { group.leave(); });
    std::thread waiter([&] { waited += group.wait(30.0) ? 1 : 0; });
    group.notify(queue, [&] { ++notified; });
    leaver.join();
    waiter.join();
  }
  queue->sync([] {});
  EXPECT_EQ(notified, kRounds);
  EXPECT_EQ(waited, kRounds);

  // Watched once, the group empties without a lock again, and the count still holds.
  group.enter();
  group.enter();
  group.leave();
  EXPECT_FALSE(group.wait(0.01));
  group.leave();
  EXPECT_TRUE(group.wait(0.01));
}

TEST_F(DispatchGroupTest, WaitTurnsTheMainLoopAndTimesOut) {
  DispatchGroup group;
  group.enter();
  // Left by main-loop work, so the wait on the main thread must keep the loop turning.
  DispatchQueue::main()->async([&] { group.leave(); });
  EXPECT_TRUE(group.wait(5.0));

  group.enter();
  auto queue = DispatchQueue::make("leaver");
  queue->async([&] { group.leave(); });
  EXPECT_TRUE(group.wait(5.0));

  group.enter();
  EXPECT_FALSE(group.wait(0.01));
  bool offMain[2] = {true, false};
  std::thread([&] { offMain[0] = group.wait(0.01); }).join();
  group.leave();
  std::thread([&] { offMain[1] = group.wait(5.0); }).join();
  EXPECT_EQ(std::pair(offMain[0], offMain[1]), std::pair(false, true));
}

TEST(DispatchGroupDeathTest, LeaveWithoutEnterStops) {
  DispatchGroup group;
  EXPECT_DEATH(group.leave(), "without a matching enter");
  group.enter();
  group.enter();
  group.leave();
  group.leave();
  EXPECT_DEATH(group.leave(), "without a matching enter");
}

}  // namespace
