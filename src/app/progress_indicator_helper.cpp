#include "app/progress_indicator_helper.h"

#include <cmath>

#include "platform/frameworks/pk_hud.h"

const std::shared_ptr<ProgressIndicatorHelper>& ProgressIndicatorHelper::instance() {
  // Never destroyed: timers and late callbacks may still reach it while the process exits.
  static const auto* shared = new std::shared_ptr<ProgressIndicatorHelper>(std::make_shared<ProgressIndicatorHelper>());
  return *shared;
}

ProgressIndicatorHelper::ProgressIndicatorHelper() {
  auto& hud = PKHUD::sharedHUD();
  hud.setContentView(std::make_shared<PKHUDProgressView>());
  hud.setUserInteractionOnUnderlyingViewsEnabled(false);
}

void ProgressIndicatorHelper::showProgressIndicator(TimeInterval delay) {
  if (timer_) timer_->invalidate();
  if (!(delay > 0) || !std::isfinite(delay)) delay = 0;
  timer_ = RunLoop::main().scheduledTimer(delay, false, [weak = weak_from_this()](Timer&) {
    if (auto self = weak.lock()) self->show();
  });
}

void ProgressIndicatorHelper::show() { PKHUD::sharedHUD().show(); }

void ProgressIndicatorHelper::hideProgressIndicator() {
  if (timer_) {
    timer_->invalidate();
    timer_.reset();
  }
  PKHUD::sharedHUD().hide(true);
}

bool ProgressIndicatorHelper::isShown() const { return PKHUD::sharedHUD().isVisible(); }
