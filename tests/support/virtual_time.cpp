#include "support/virtual_time.h"

#include "platform/foundation/run_loop.h"

VirtualTime::VirtualTime(Date start) : clock_(std::make_shared<VirtualClock>(start)), previous_(currentClock()) {
  RunLoop::main().reset();
  setCurrentClock(clock_);
}

VirtualTime::~VirtualTime() {
  RunLoop::main().reset();
  setCurrentClock(previous_);
}

Date VirtualTime::now() const { return clock_->now(); }

void VirtualTime::advance(TimeInterval seconds) { RunLoop::main().advance(seconds); }

bool VirtualTime::runUntil(const std::function<bool()>& predicate, TimeInterval timeout) {
  return RunLoop::main().runUntil(predicate, timeout);
}

void VirtualTime::runUntilIdle() { RunLoop::main().runUntilIdle(); }
