#pragma once

#include <memory>

#include "platform/foundation/date.h"
#include "platform/foundation/run_loop.h"

// The one application-wide progress overlay around backend calls, shown only when a call takes
// longer than a short delay, so that quick answers never flash it. Main thread only.
class ProgressIndicatorHelper : public std::enable_shared_from_this<ProgressIndicatorHelper> {
 public:
  // Made on first use, never released.
  static const std::shared_ptr<ProgressIndicatorHelper>& instance();

  // Puts a progress view into the shared HUD and keeps touches from the screen beneath it.
  ProgressIndicatorHelper();
  virtual ~ProgressIndicatorHelper() = default;

  // The pending one-shot timer that will show the overlay; kept after it fired until the next
  // show or hide.
  const std::shared_ptr<Timer>& timer() const { return timer_; }
  void setTimer(std::shared_ptr<Timer> timer) { timer_ = std::move(timer); }

  // Asks for the overlay after `delay` seconds, replacing a show still pending; 0 shows it on the
  // next turn of the run loop, never inside the call.
  virtual void showProgressIndicator(TimeInterval delay = 0.5);
  // The timer's action: shows the overlay at once.
  virtual void show();
  // Cancels a pending show and hides the overlay; harmless when nothing is shown.
  virtual void hideProgressIndicator();

  // Whether the overlay is on screen.
  bool isShown() const;

 private:
  std::shared_ptr<Timer> timer_;
};
