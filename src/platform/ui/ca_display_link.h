#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/date.h"

class RunLoop;
class Timer;

// The run-loop modes a source can be added for. There is one mode here; the names are kept so
// that callers read as on the platform.
inline constexpr const char* NSDefaultRunLoopMode = "kCFRunLoopDefaultMode";
inline constexpr const char* NSRunLoopCommonModes = "kCFRunLoopCommonModes";

// Calls its action once per screen refresh (60 a second) divided by the frame interval, from the
// run loop it was added to (on the virtual clock in tests). The target is held weakly: once it is
// gone the link stops.
class CADisplayLink : public std::enable_shared_from_this<CADisplayLink> {
 public:
  using Action = std::function<void(CADisplayLink&)>;
  static constexpr double kFramesPerSecond = 60;

  static std::shared_ptr<CADisplayLink> make(const std::shared_ptr<void>& target, Action action);
  CADisplayLink(const std::shared_ptr<void>& target, Action action) : target_(target), action_(std::move(action)) {}
  ~CADisplayLink();
  CADisplayLink(const CADisplayLink&) = delete;
  CADisplayLink& operator=(const CADisplayLink&) = delete;

  // Screen refreshes between two calls; values below 1 read as 1.
  int frameInterval() const { return frameInterval_; }
  void setFrameInterval(int interval);
  // The run loop keeps the link until it is invalidated. Adding it again changes nothing.
  void addToRunLoop(RunLoop& runLoop, const char* mode = NSDefaultRunLoopMode);
  // Removes the link from its run loop for good.
  void invalidate();
  bool isValid() const { return valid_; }

  // The time of the last call, and the time between two screen refreshes.
  Date timestamp() const { return timestamp_; }
  TimeInterval duration() const { return 1 / kFramesPerSecond; }

 private:
  void schedule();
  void tick();

  std::weak_ptr<void> target_;
  Action action_;
  int frameInterval_ = 1;
  RunLoop* runLoop_ = nullptr;
  std::weak_ptr<Timer> timer_;  // the run loop holds the timer, and the timer holds the link
  bool valid_ = true;
  Date timestamp_;
};
