#include "platform/foundation/notification_center.h"

#include <vector>

#include "platform/foundation/run_loop.h"

struct NotificationCenter::Observer {
  std::string name;
  bool filtersObject = false;
  std::weak_ptr<void> object;
  std::shared_ptr<DispatchQueue> queue;
  Block block;
  std::atomic<bool> removed{false};

  bool matches(const std::string& postedName, const void* postedObject) const {
    if (postedName != name) return false;
    if (!filtersObject) return true;
    const auto wanted = object.lock();
    return wanted && wanted.get() == postedObject;
  }

  void deliver(const Notification& n) const {
    if (removed) return;
    foundation_detail::invokeSafely([&] { block(n); }, "Notification observer");
  }
};

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter() {
  static auto* center = new std::shared_ptr<NotificationCenter>(std::make_shared<NotificationCenter>());
  return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserverForName(std::string name, std::shared_ptr<void> object,
                                                                         std::shared_ptr<DispatchQueue> queue,
                                                                         Block block) {
  auto observer = std::make_shared<Observer>();
  observer->name = std::move(name);
  observer->filtersObject = object != nullptr;
  observer->object = object;
  observer->queue = std::move(queue);
  observer->block = std::move(block);
  std::lock_guard lock(mutex_);
  const ObserverToken token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  observerCount_.store(observers_.size(), std::memory_order_release);
  return token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
  std::shared_ptr<Observer> removed;  // released after the lock: the block's captures may post
  std::lock_guard lock(mutex_);
  auto it = observers_.find(token);
  if (it == observers_.end()) return;
  it->second->removed = true;
  removed = std::move(it->second);
  observers_.erase(it);
  observerCount_.store(observers_.size(), std::memory_order_release);
}

void NotificationCenter::postNotificationName(const std::string& name, std::shared_ptr<void> object,
                                              Value::Dictionary userInfo) {
  if (observerCount_.load(std::memory_order_acquire) == 0) return;
  std::vector<std::shared_ptr<Observer>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [token, observer] : observers_) {
      if (observer->matches(name, object.get())) targets.push_back(observer);
    }
  }
  // Most posts have no observer: nothing is made for them.
  if (targets.empty()) return;
  auto notification = std::make_shared<const Notification>(Notification{name, std::move(object), std::move(userInfo)});
  for (auto& observer : targets) {
    if (observer->queue) {
      observer->queue->async([observer, notification] { observer->deliver(*notification); });
    } else {
      observer->deliver(*notification);
    }
  }
}
