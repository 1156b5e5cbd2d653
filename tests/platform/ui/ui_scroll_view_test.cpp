#include "platform/ui/ui_scroll_view.h"

#include <gtest/gtest.h>

#include "platform/ui/render.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_refresh_control.h"
#include "support/virtual_time.h"

namespace {

class ScrollRecorder : public UIScrollViewDelegate {
 public:
  void scrollViewDidScroll(UIScrollView&) override { ++scrolls; }
  void scrollViewDidEndDecelerating(UIScrollView& sv) override { decelerationEnds.push_back(sv.currentPage()); }
  void scrollViewDidEndScrollingAnimation(UIScrollView& sv) override { animationEnds.push_back(sv.currentPage()); }
  int scrolls = 0;
  std::vector<int> decelerationEnds;
  std::vector<int> animationEnds;
};

// Five pages of 100 x 50.
class UIScrollViewTest : public ::testing::Test {
 protected:
  UIScrollViewTest() {
    sv->setContentSize({500, 50});
    sv->setPagingEnabled(true);
    sv->setDelegate(delegate);
  }
  VirtualTime time;
  std::shared_ptr<UIScrollView> sv = UIScrollView::make(CGRectMake(0, 0, 100, 50));
  std::shared_ptr<ScrollRecorder> delegate = std::make_shared<ScrollRecorder>();
};

}  // namespace

TEST_F(UIScrollViewTest, AnimatedScrollToAnotherPageReportsItsEndOnceLater) {
  sv->scrollRectToVisible(CGRectMake(300, 0, 100, 50), true);
  EXPECT_EQ(sv->contentOffset().x, 300);
  EXPECT_TRUE(delegate->animationEnds.empty());  // not inside the call
  time.runUntilIdle();
  EXPECT_EQ(delegate->animationEnds, std::vector<int>{3});

  // Two animated scrolls before the end is reported: one report, at the final page.
  sv->scrollRectToVisible(CGRectMake(100, 0, 100, 50), true);
  sv->scrollRectToVisible(CGRectMake(200, 0, 100, 50), true);
  time.runUntilIdle();
  EXPECT_EQ(delegate->animationEnds, (std::vector<int>{3, 2}));

  // The page already shown, or a rectangle beyond the content: no movement past the content,
  // and nothing reported when nothing moves.
  sv->scrollRectToVisible(CGRectMake(200, 0, 100, 50), true);
  sv->scrollRectToVisible(CGRectMake(900, 0, 100, 50), true);
  EXPECT_EQ(sv->contentOffset().x, 400);
  time.runUntilIdle();
  EXPECT_EQ(delegate->animationEnds, (std::vector<int>{3, 2, 4}));

  // Without animation: moved at once, no end report.
  sv->scrollRectToVisible(CGRectMake(0, 0, 100, 50), false);
  time.runUntilIdle();
  EXPECT_EQ(sv->currentPage(), 0);
  EXPECT_EQ(delegate->animationEnds.size(), 3u);
}

TEST_F(UIScrollViewTest, SwipesSettleOnPagesAndReportDecelerationEndOnce) {
  EXPECT_TRUE(sv->dragToContentOffset({140, 0}));  // settles on the nearest page
  EXPECT_EQ(sv->contentOffset().x, 100);
  time.runUntilIdle();
  EXPECT_EQ(delegate->decelerationEnds, std::vector<int>{1});

  EXPECT_TRUE(sv->swipeToPage(9));  // beyond the last page: the last page
  time.runUntilIdle();
  EXPECT_EQ(delegate->decelerationEnds, (std::vector<int>{1, 4}));

  int scrolls = delegate->scrolls;
  EXPECT_TRUE(sv->swipeToPage(4));  // no movement: nothing to report
  time.runUntilIdle();
  EXPECT_EQ(delegate->decelerationEnds.size(), 2u);
  EXPECT_EQ(delegate->scrolls, scrolls);

  sv->setScrollEnabled(false);
  EXPECT_FALSE(sv->swipeToPage(0));

  // A view released before its report arrives is simply not told.
  sv->setScrollEnabled(true);
  sv->swipeToPage(0);
  sv.reset();
  time.runUntilIdle();
  EXPECT_EQ(delegate->decelerationEnds.size(), 2u);
}

TEST_F(UIScrollViewTest, PullingStartsTheRefreshControlOnce) {
  auto refresh = UIRefreshControl::make();
  int pulls = 0;
  refresh->addTarget([&](UIControl&, const UIEvent*) { ++pulls; }, UIControlEvents::ValueChanged);
  EXPECT_FALSE(sv->pullToRefresh());  // no refresh control yet
  sv->addSubview(refresh);
  EXPECT_TRUE(sv->pullToRefresh());
  EXPECT_TRUE(refresh->isRefreshing());
  EXPECT_FALSE(sv->pullToRefresh());  // already refreshing
  refresh->endRefreshing();
  refresh->beginRefreshing();  // in code: no action
  EXPECT_EQ(pulls, 1);
}

TEST_F(UIScrollViewTest, APagingViewPrintsOnlyTheShownPage) {
  auto container = UIView::make(CGRectMake(0, 0, 500, 50));
  sv->addSubview(container);
  for (int i = 0; i < 5; ++i) {
    auto page = UIView::make(CGRectMake(i * 100, 0, 100, 50));
    auto label = UILabel::make();  // no layout gave it a size: shown with its page
    label->setText("question " + std::to_string(i + 1));
    page->addSubview(label);
    container->addSubview(page);
  }
  auto overlay = UILabel::make(CGRectMake(0, 0, 500, 10));  // not a plain container: kept whole
  overlay->setText("strip");
  sv->addSubview(overlay);
  ASSERT_TRUE(sv->swipeToPage(3));
  TextCanvas canvas;
  sv->render(canvas);
  EXPECT_EQ(canvas.text(), "(page 4/5)\nquestion 4\nstrip\n");
}
