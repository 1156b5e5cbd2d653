#include "platform/ui/ca_display_link.h"

#include <algorithm>

#include "platform/foundation/run_loop.h"

std::shared_ptr<CADisplayLink> CADisplayLink::make(const std::shared_ptr<void>& target, Action action) {
  return std::make_shared<CADisplayLink>(target, std::move(action));
}

CADisplayLink::~CADisplayLink() {
  if (auto timer = timer_.lock()) timer->invalidate();
}

void CADisplayLink::setFrameInterval(int interval) {
  frameInterval_ = std::max(1, interval);
  if (timer_.lock()) schedule();
}

void CADisplayLink::addToRunLoop(RunLoop& runLoop, const char*) {
  if (!valid_ || runLoop_) return;
  runLoop_ = &runLoop;
  schedule();
}

void CADisplayLink::invalidate() {
  valid_ = false;
  if (auto timer = timer_.lock()) timer->invalidate();
  timer_.reset();
}

void CADisplayLink::schedule() {
  if (auto timer = timer_.lock()) timer->invalidate();
  auto self = shared_from_this();
  timer_ = runLoop_->scheduledTimer(frameInterval_ / kFramesPerSecond, true, [self](Timer&) { self->tick(); });
}

void CADisplayLink::tick() {
  if (!valid_) return;
  auto target = target_.lock();
  if (!target) return invalidate();
  timestamp_ = Date::now();
  auto action = action_;
  action(*this);
}
