#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/date.h"

// A serial queue. main() runs its work on the main run loop; make() gives a queue with a thread
// of its own.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  static std::shared_ptr<DispatchQueue> main();
  static std::shared_ptr<DispatchQueue> make(std::string label);
  virtual ~DispatchQueue();

  const std::string& label() const { return label_; }
  virtual void async(std::function<void()> work) = 0;
  // Runs `work` on the queue and waits for it. Called on the queue itself it runs inline, so a
  // nested sync never deadlocks. A queue of its own runs the work on the calling thread once
  // earlier work is done (isCurrent() holds inside), so a chain A -> B -> A of syncs finds A
  // current; the main queue runs it on the main thread. Two queues syncing into each other at
  // the same time still deadlock, as they would anywhere.
  virtual void sync(const std::function<void()>& work) = 0;
  // Timers live on the main run loop, so the virtual clock drives every delay.
  void after(TimeInterval delay, std::function<void()> work);
  virtual bool isCurrent() const = 0;

 protected:
  explicit DispatchQueue(std::string label) : label_(std::move(label)) {}

 private:
  std::string label_;
};

class DispatchGroup {
 public:
  DispatchGroup();
  void enter();
  void leave();
  // Runs `work` on `queue` once the count reaches zero (at once if it is zero).
  void notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> work);
  // Waits in real time; true when the group emptied in time. On the main thread the run loop
  // keeps turning while it waits. A leave() without an enter() is a fatal error.
  bool wait(TimeInterval timeout);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// One-time initialisation of shared instances.
using DispatchOnce = std::once_flag;
template <class F>
void dispatchOnce(DispatchOnce& flag, F&& f) {
  std::call_once(flag, std::forward<F>(f));
}
