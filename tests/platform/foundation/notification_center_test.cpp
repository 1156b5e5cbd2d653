#include "platform/foundation/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/virtual_time.h"

namespace {

TEST(NotificationCenterTest, DeliversByNameAndSenderWithUserInfo) {
  VirtualTime vt;
  NotificationCenter center;
  auto sender = std::make_shared<int>(1);
  auto other = std::make_shared<int>(2);
  std::vector<std::string> log;
  center.addObserverForName("changed", sender, nullptr, [&](const Notification& n) {
    const auto* reason = n.userInfo.count("reason") ? n.userInfo.at("reason").asString() : nullptr;
    log.push_back("from sender: " + (reason ? *reason : std::string("?")));
  });
  center.addObserverForName("changed", nullptr, nullptr, [&](const Notification& n) {
    log.push_back(n.object == other ? "any: other" : "any: sender");
  });

  center.postNotificationName("changed", sender, {{"reason", Value("test")}});
  center.postNotificationName("changed", other);
  center.postNotificationName("unrelated", sender);
  EXPECT_EQ(log, (std::vector<std::string>{"from sender: test", "any: sender", "any: other"}));

  // The filter does not keep its sender alive, and a new object at a reused address is not it.
  log.clear();
  void* oldAddress = sender.get();
  sender.reset();
  auto successor = std::make_shared<int>(3);
  center.postNotificationName("changed", successor);
  center.postNotificationName("changed", std::shared_ptr<void>(oldAddress, [](void*) {}));
  EXPECT_EQ(log, (std::vector<std::string>{"any: sender", "any: sender"}));
}

// A center that has no observer answers posts without looking; one that had them and lost them
// all, then gained one, must look again.
TEST(NotificationCenterTest, ObserversComingAndGoingKeepPostsReachingTheRightOnes) {
  NotificationCenter center;
  std::vector<std::string> log;
  center.postNotificationName("changed");
  const auto first =
      center.addObserverForName("changed", nullptr, nullptr, [&](const Notification&) { log.push_back("first"); });
  center.postNotificationName("changed");
  center.removeObserver(first);
  center.postNotificationName("changed");
  center.addObserverForName("changed", nullptr, nullptr, [&](const Notification&) { log.push_back("second"); });
  center.postNotificationName("changed");
  center.removeObserver(first);  // removed already: the count stays right
  center.postNotificationName("changed");
  EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "second"}));
}

TEST(NotificationCenterTest, QueueObserversRunAsyncOnTheirQueue) {
  VirtualTime vt;
  NotificationCenter center;
  auto queue = DispatchQueue::make("observers");
  std::atomic<bool> onQueue{false};
  bool onMain = false;
  center.addObserverForName("ping", nullptr, queue, [&](const Notification&) { onQueue = queue->isCurrent(); });
  center.addObserverForName("ping", nullptr, DispatchQueue::main(), [&](const Notification&) { onMain = true; });
  center.postNotificationName("ping");
  EXPECT_FALSE(onMain);  // not inside the post
  vt.runUntilIdle();
  queue->sync([] {});
  EXPECT_TRUE(onMain && onQueue);

  // Removed before the queued delivery ran: never delivered.
  int late = 0;
  auto token = center.addObserverForName("late", nullptr, DispatchQueue::main(), [&](const Notification&) { ++late; });
  center.postNotificationName("late");
  center.removeObserver(token);
  vt.runUntilIdle();
  EXPECT_EQ(late, 0);
}

TEST(NotificationCenterTest, ObserversMayChangeTheCenterDuringAPost) {
  VirtualTime vt;
  auto center = NotificationCenter::defaultCenter();
  std::vector<std::string> log;
  NotificationCenter::ObserverToken second = 0, self = 0;
  auto first = center->addObserverForName("event", nullptr, nullptr, [&](const Notification&) {
    log.push_back("first");
    center->removeObserver(second);
    center->removeObserver(self);
    center->postNotificationName("nested");
  });
  second = center->addObserverForName("event", nullptr, nullptr, [&](const Notification&) { log.push_back("second"); });
  self = center->addObserverForName("event", nullptr, nullptr, [&](const Notification&) { log.push_back("self"); });
  auto nested =
      center->addObserverForName("nested", nullptr, nullptr, [&](const Notification&) { log.push_back("nested"); });
  center->postNotificationName("event");
  center->postNotificationName("event");
  EXPECT_EQ(log, (std::vector<std::string>{"first", "nested", "first", "nested"}));
  center->removeObserver(first);
  center->removeObserver(nested);
  center->removeObserver(first);  // twice is harmless
  center->postNotificationName("event");
  EXPECT_EQ(log.size(), 4u);
}

}  // namespace
