#include "platform/foundation/run_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/virtual_time.h"

namespace {

class RunLoopTest : public ::testing::Test {
 protected:
  TimeInterval elapsed(Date start) const { return vt.now().timeIntervalSinceDate(start); }

  VirtualTime vt;
  RunLoop& loop = RunLoop::main();
};

TEST_F(RunLoopTest, TurnsRunTimersThenTasksAndDeferWhatATurnPosts) {
  std::vector<std::string> log;
  loop.post([&] {
    log.push_back("task1");
    loop.post([&] { log.push_back("posted by task1"); });
    loop.scheduledTimer(0, false, [&](Timer&) { log.push_back("timer from task1"); });
  });
  loop.post([&] { log.push_back("task2"); });
  loop.scheduledTimer(0, false, [&](Timer&) { log.push_back("zero timer"); });

  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(log, (std::vector<std::string>{"zero timer", "task1", "task2"}));
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(log, (std::vector<std::string>{"zero timer", "task1", "task2", "timer from task1", "posted by task1"}));
  EXPECT_FALSE(loop.runOnce());
}

// Without timers a turn takes its first task with its look at the queue and the rest one by one.
TEST_F(RunLoopTest, ATurnWithoutTimersRunsEveryTaskPostedBeforeItAndNothingAfter) {
  std::vector<int> order;
  EXPECT_FALSE(loop.runOnce());
  loop.post([&] {
    order.push_back(1);
    loop.post([&] { order.push_back(4); });
  });
  loop.post(nullptr);  // an empty task still counts as work
  loop.post([&] { order.push_back(2); });
  loop.post([&] { order.push_back(3); });
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_FALSE(loop.runOnce());
  loop.post(nullptr);
  EXPECT_TRUE(loop.runOnce());

  // A timer gone (fired, invalidated or dropped by reset) leaves turns with nothing to do.
  loop.scheduledTimer(0, false, [&](Timer&) { order.push_back(5); });
  loop.scheduledTimer(1.0, false, [](Timer&) {})->invalidate();
  EXPECT_TRUE(loop.runOnce());
  EXPECT_FALSE(loop.runOnce());
  loop.post([&] { order.push_back(6); });
  loop.scheduledTimer(0, false, [&](Timer&) { order.push_back(7); });
  loop.reset();
  EXPECT_FALSE(loop.runOnce());
  loop.post([&] { order.push_back(8); });
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 8}));
}

TEST_F(RunLoopTest, NestedLoopInsideATaskKeepsPostOrderAndExceptionsStayInside) {
  std::vector<int> order;
  loop.post([&] {
    order.push_back(1);
    loop.runUntil([&] { return order.size() == 3; }, 1.0);
  });
  loop.post([&] { order.push_back(2); });
  loop.post([] { throw std::runtime_error("task failure"); });
  loop.post([&] { order.push_back(3); });
  loop.runUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, VirtualTimersFireAtTheirDueTimesInScheduleOrder) {
  const Date start = vt.now();
  std::vector<std::pair<std::string, TimeInterval>> fired;
  auto record = [&](std::string name) { return [&, name](Timer&) { fired.emplace_back(name, elapsed(start)); }; };
  auto late = loop.scheduledTimer(2.0, false, record("late"));
  auto first = loop.scheduledTimer(1.0, false, record("first"));
  loop.scheduledTimer(1.0, false, record("second"));
  loop.runUntilIdle();
  vt.advance(0.999);
  EXPECT_TRUE(fired.empty());
  vt.advance(0.001);
  EXPECT_EQ(fired, (decltype(fired){{"first", 1.0}, {"second", 1.0}}));
  EXPECT_TRUE(!first->isValid() && late->isValid());
  EXPECT_EQ(late->fireDate(), start.dateByAddingTimeInterval(2.0));

  vt.advance(5.0);
  EXPECT_EQ(fired, (decltype(fired){{"first", 1.0}, {"second", 1.0}, {"late", 2.0}}));
  EXPECT_EQ(elapsed(start), 6.0);
}

TEST_F(RunLoopTest, InvalidationFromCallbacksStopsFiring) {
  int repeatingFires = 0;
  loop.scheduledTimer(1.0, true, [&](Timer& t) {
    if (++repeatingFires == 2) t.invalidate();
  });

  // Two timers due at the same instant: the first cancels the second.
  std::shared_ptr<Timer> victim;
  bool victimFired = false;
  loop.scheduledTimer(3.0, false, [&](Timer&) { victim->invalidate(); });
  victim = loop.scheduledTimer(3.0, false, [&](Timer&) { victimFired = true; });

  vt.advance(10.0);
  EXPECT_EQ(repeatingFires, 2);
  EXPECT_FALSE(victimFired || victim->isValid());

  // Invalidating drops the callback, so what it captured is released.
  auto captured = std::make_shared<int>(0);
  auto holder = loop.scheduledTimer(1.0, true, [captured](Timer&) {});
  EXPECT_EQ(captured.use_count(), 2);
  holder->invalidate();
  EXPECT_EQ(captured.use_count(), 1);

  // fire() runs a one-shot early and retires it.
  int early = 0;
  auto oneShot = loop.scheduledTimer(5.0, false, [&](Timer&) { ++early; });
  oneShot->fire();
  vt.advance(10.0);
  EXPECT_EQ(std::pair(early, oneShot->isValid()), std::pair(1, false));
}

TEST_F(RunLoopTest, RepeatingTimerKeepsItsCadenceAndSkipsMissedIntervals) {
  const Date start = vt.now();
  std::vector<TimeInterval> at;
  auto timer = RunLoop::main().scheduledTimer(0.25, true, [&](Timer&) { at.push_back(elapsed(start)); });
  vt.advance(1.0);
  EXPECT_EQ(at, (std::vector<TimeInterval>{0.25, 0.5, 0.75, 1.0}));

  // A long stall: one fire, then the schedule continues on the original grid.
  at.clear();
  vt.clock()->advance(5.6);
  vt.runUntilIdle();
  EXPECT_EQ(std::pair(at.size(), timer->fireDate().timeIntervalSinceDate(start)), std::pair(std::size_t{1}, 6.75));
  vt.advance(0.15);
  EXPECT_EQ(at.size(), 2u);
  timer->invalidate();
}

TEST(RunLoopClockTest, ResetDropsTasksAndTimersAndTheVirtualClockDrivesDateNow) {
  auto& loop = RunLoop::main();
  bool ran = false;
  const Date before = Date::now();
  {
    VirtualTime vt(Date{100.0});
    vt.advance(2.5);
    EXPECT_EQ(std::pair(Date::now(), Date{110.0}.timeIntervalSinceNow()), std::pair(Date{102.5}, 7.5));
    loop.post([&] { ran = true; });
    auto timer = loop.scheduledTimer(1.0, false, [&](Timer&) { ran = true; });
    loop.reset();
    vt.advance(2.0);
    EXPECT_FALSE(ran || timer->isValid());
  }
  EXPECT_FALSE(currentClock()->isVirtual());
  EXPECT_GE(Date::now(), before);
}

TEST(RunLoopClockTest, DateNowFollowsEveryClockInstalled) {
  const Date before = Date::now();
  auto virtualClock = std::make_shared<VirtualClock>(Date{5.0});
  setCurrentClock(virtualClock);
  EXPECT_EQ(Date::now(), Date{5.0});
  setCurrentClock(std::make_shared<SystemClock>());
  EXPECT_GE(Date::now(), before);
  setCurrentClock(virtualClock);
  virtualClock->advance(1.0);
  EXPECT_EQ(Date::now(), Date{6.0});
  setCurrentClock(nullptr);  // the system clock again
  EXPECT_GE(Date::now(), before);
}

// Real time, kept short: nothing here waits longer than it takes the work to arrive.
TEST(RunLoopRealTimeTest, TimersAndPostsFromOtherThreadsWakeTheLoop) {
  auto& loop = RunLoop::main();
  loop.reset();
  ASSERT_FALSE(currentClock()->isVirtual());
  bool guardFired = false;
  auto guard = loop.scheduledTimer(2.0, false, [&](Timer&) {
    guardFired = true;
    loop.stop();
  });

  loop.scheduledTimer(0, false, [&](Timer&) { loop.stop(); });
  loop.run();
  std::thread poster([&] { loop.post([&] { loop.stop(); }); });
  loop.run();
  poster.join();

  bool shortTimerFired = false;
  loop.scheduledTimer(0.02, false, [&](Timer&) { shortTimerFired = true; });
  EXPECT_TRUE(loop.runUntil([&] { return shortTimerFired; }, 1.0));
  EXPECT_FALSE(guardFired);
  guard->invalidate();
  loop.reset();
}

// A sleeping loop is woken once per sleep: posts that find it woken already must not be lost, nor
// a timer or a stop that comes from another thread while it sleeps.
TEST(RunLoopRealTimeTest, EveryWakeUpFromOtherThreadsReachesASleepingLoop) {
  auto& loop = RunLoop::main();
  loop.reset();
  constexpr int kThreads = 4;
  constexpr int kPosts = 200;
  std::vector<std::vector<int>> seen(kThreads);  // main thread only
  int finished = 0;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i) loop.post([&, t, i] { seen[t].push_back(i); });
      loop.post([&] { ++finished; });
    });
  }
  EXPECT_TRUE(loop.runUntil([&] { return finished == kThreads; }, 10.0));
  for (auto& poster : posters) poster.join();
  for (const auto& order : seen) {
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kPosts));
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  }

  // Nothing comes: the wait ends at its deadline.
  EXPECT_FALSE(loop.runOnce(0.01));

  bool fired = false;
  std::thread scheduler([&] { loop.scheduledTimer(0, false, [&](Timer&) { fired = true; }); });
  EXPECT_TRUE(loop.runUntil([&] { return fired; }, 10.0));
  scheduler.join();

  auto guard = loop.scheduledTimer(10.0, false, [&](Timer&) { loop.stop(); });
  std::thread stopper([&] { loop.stop(); });
  loop.run();  // returns on the stop, long before the guard
  stopper.join();
  EXPECT_TRUE(guard->isValid());
  guard->invalidate();
  loop.reset();
}

TEST(RunLoopDeathTest, AdvanceNeedsAVirtualClock) { EXPECT_DEATH(RunLoop::main().advance(1.0), "virtual clock"); }

}  // namespace
