#include "app/progress_indicator_helper.h"

#include <gtest/gtest.h>

#include "platform/frameworks/pk_hud.h"
#include "support/virtual_time.h"

namespace {

class ProgressIndicatorTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  void reset() {
    helper_->hideProgressIndicator();
    hud_.reset();
  }

  VirtualTime time_;
  const std::shared_ptr<ProgressIndicatorHelper>& helper_ = ProgressIndicatorHelper::instance();
  PKHUD& hud_ = PKHUD::sharedHUD();
};

TEST_F(ProgressIndicatorTest, OnlyAnAnswerSlowerThanTheDelayShowsTheBlockingOverlay) {
  ProgressIndicatorHelper fresh;
  EXPECT_NE(std::dynamic_pointer_cast<PKHUDProgressView>(hud_.contentView()), nullptr);
  EXPECT_FALSE(hud_.userInteractionOnUnderlyingViewsEnabled());

  helper_->showProgressIndicator();
  time_.advance(0.2);
  helper_->hideProgressIndicator();
  time_.advance(1);
  // The HUD hears the hide anyway.
  EXPECT_EQ(std::tuple(hud_.showCount(), hud_.hideCount(), hud_.lastHideAnimated()), std::tuple(0, 1, true));

  helper_->showProgressIndicator(0.5);
  time_.advance(0.49);
  EXPECT_FALSE(helper_->isShown());
  time_.advance(0.01);
  EXPECT_TRUE(helper_->isShown());
  time_.advance(0.5);
  helper_->hideProgressIndicator();
  EXPECT_FALSE(helper_->isShown());
}

TEST_F(ProgressIndicatorTest, AShowReplacesThePendingOneAndZeroWaitsForTheNextTurn) {
  helper_->showProgressIndicator();
  time_.advance(0.3);
  helper_->showProgressIndicator();
  time_.advance(0.3);
  EXPECT_FALSE(helper_->isShown()) << "0.6 s after the first show, 0.3 s after the second";
  time_.advance(0.2);
  EXPECT_TRUE(helper_->isShown());
  time_.advance(2);
  EXPECT_EQ(hud_.showCount(), 1);

  // Asked again while shown: the overlay stays and is shown again at the new delay.
  helper_->showProgressIndicator();
  EXPECT_TRUE(helper_->isShown());
  time_.advance(0.5);
  EXPECT_EQ(hud_.showCount(), 2);

  for (double delay : {0.0, -3.0}) {
    helper_->hideProgressIndicator();
    helper_->showProgressIndicator(delay);
    EXPECT_FALSE(helper_->isShown()) << delay;
    time_.runUntilIdle();
    EXPECT_TRUE(helper_->isShown()) << delay;
  }
}

}  // namespace
