#pragma once

#include <memory>

#include "platform/foundation/run_loop.h"

// The one application-wide progress indicator: a delayed show (a pending timer) and the overlay.
// Main thread only.
class ProgressIndicatorHelper {
 public:
  // Made on first use, never released.
  static const std::shared_ptr<ProgressIndicatorHelper>& instance();

  ProgressIndicatorHelper() = default;
  virtual ~ProgressIndicatorHelper() = default;

  // The pending one-shot timer that will show the overlay; kept after it fired until the next hide.
  const std::shared_ptr<Timer>& timer() const { return timer_; }
  void setTimer(std::shared_ptr<Timer> timer) { timer_ = std::move(timer); }

  // The timer's action: shows the overlay at once.
  virtual void show();
  // Cancels a pending show and hides the overlay; harmless when nothing is shown.
  virtual void hideProgressIndicator();

  bool isShown() const { return shown_; }

 private:
  std::shared_ptr<Timer> timer_;
  bool shown_ = false;
};
