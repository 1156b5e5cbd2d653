#include "app/progress_indicator_helper.h"

#include <gtest/gtest.h>

#include "support/virtual_time.h"

TEST(ProgressIndicatorHelperTest, OneSharedInstanceWhoseHideCancelsAPendingShowAndHidesTheOverlay) {
  VirtualTime time;
  const auto& helper = ProgressIndicatorHelper::instance();
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(helper, ProgressIndicatorHelper::instance());

  // Hide while idle is harmless.
  helper->hideProgressIndicator();
  EXPECT_FALSE(helper->isShown());
  EXPECT_EQ(helper->timer(), nullptr);

  // A pending show never fires once hidden.
  auto weak = std::weak_ptr<ProgressIndicatorHelper>(helper);
  helper->setTimer(RunLoop::main().scheduledTimer(0.5, false, [weak](Timer&) {
    if (auto h = weak.lock()) h->show();
  }));
  time.advance(0.2);
  auto timer = helper->timer();
  helper->hideProgressIndicator();
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(helper->timer(), nullptr);
  time.advance(1);
  EXPECT_FALSE(helper->isShown());

  // A fired show is hidden.
  helper->setTimer(RunLoop::main().scheduledTimer(0.5, false, [weak](Timer&) {
    if (auto h = weak.lock()) h->show();
  }));
  time.advance(0.5);
  EXPECT_TRUE(helper->isShown());
  helper->hideProgressIndicator();
  EXPECT_FALSE(helper->isShown());
  EXPECT_EQ(helper->timer(), nullptr);
}
