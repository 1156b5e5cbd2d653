#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/dispatch.h"
#include "platform/foundation/value.h"

// `object` is the sender. Observers compare it by address and hold their filter object weakly:
// once that object is gone the observer receives nothing more.
struct Notification {
  std::string name;
  std::shared_ptr<void> object;
  Value::Dictionary userInfo;
};

class NotificationCenter {
 public:
  using ObserverToken = std::uint64_t;  // never 0
  using Block = std::function<void(const Notification&)>;

  static std::shared_ptr<NotificationCenter> defaultCenter();
  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Observes `name` from `object` (nullptr: any sender). Without a queue the block runs
  // synchronously on the posting thread, otherwise async on `queue`.
  ObserverToken addObserverForName(std::string name, std::shared_ptr<void> object, std::shared_ptr<DispatchQueue> queue,
                                   Block block);
  // After it returns the observer's block is not called again, also for deliveries already
  // queued (a block running on another thread right now may still finish).
  void removeObserver(ObserverToken token);
  void postNotificationName(const std::string& name, std::shared_ptr<void> object = nullptr,
                            Value::Dictionary userInfo = {});

 private:
  struct Observer;
  std::mutex mutex_;
  std::map<ObserverToken, std::shared_ptr<Observer>> observers_;  // in registration order
  // The size of observers_, read without the lock: most posts have no observer at all.
  std::atomic<std::size_t> observerCount_{0};
  ObserverToken nextToken_ = 1;
};
