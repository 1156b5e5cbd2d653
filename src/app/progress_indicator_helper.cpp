#include "app/progress_indicator_helper.h"

const std::shared_ptr<ProgressIndicatorHelper>& ProgressIndicatorHelper::instance() {
  // Never destroyed: timers and late callbacks may still reach it while the process exits.
  static const auto* shared = new std::shared_ptr<ProgressIndicatorHelper>(std::make_shared<ProgressIndicatorHelper>());
  return *shared;
}

void ProgressIndicatorHelper::show() { shown_ = true; }

void ProgressIndicatorHelper::hideProgressIndicator() {
  if (timer_) {
    timer_->invalidate();
    timer_.reset();
  }
  shown_ = false;
}
