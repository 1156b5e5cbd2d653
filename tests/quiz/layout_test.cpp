#include <tuple>

#include "platform/ui/ui_nib.h"
#include "question_fixture.h"

namespace {

const std::string kLong = "A rather long answer that needs more than one line on any tile of a phone or a tablet";

TEST_F(QuestionTest, TileWidthsPerIdiomAndOrientationWithEqualHeights) {
  struct Case {
    UIUserInterfaceIdiom idiom;
    CGSize screenSize;
    bool landscape;
    CGFloat header, tile;
  };
  const Case cases[] = {
      {UIUserInterfaceIdiom::Phone, {375, 667}, false, 315, 315},
      {UIUserInterfaceIdiom::Phone, {375, 667}, true, 607, 487},
      {UIUserInterfaceIdiom::Pad, {768, 1024}, false, 708, 344},
      {UIUserInterfaceIdiom::Pad, {768, 1024}, true, 964, 472},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tile);
    UIDevice::currentDevice()->rotate(UIDeviceOrientation::Portrait);
    UIDevice::currentDevice()->setUserInterfaceIdiom(c.idiom);
    UIScreen::mainScreen()->setBounds(CGRect{{0, 0}, c.screenSize});
    show(question("oneCorrect", {{"A"}, {kLong}, {"B"}}));
    if (c.landscape) UIDevice::currentDevice()->rotate(UIDeviceOrientation::LandscapeLeft);
    run("show");
    EXPECT_EQ(collection()->cellForItemAtIndexPath({0, 0})->frame().size.width, c.header);
    auto first = collection()->cellForItemAtIndexPath({1, 0})->frame();
    auto second = collection()->cellForItemAtIndexPath({1, 1})->frame();
    EXPECT_EQ(first.size.width, c.tile);
    // Every tile as tall as the longest answer; two columns on a tablet.
    EXPECT_EQ(first.size.height, second.size.height);
    EXPECT_EQ(collection()->cellForItemAtIndexPath({1, 2})->frame().size.height, second.size.height);
    EXPECT_EQ(first.origin.y == second.origin.y, c.idiom == UIUserInterfaceIdiom::Pad);
  }
}

TEST_F(QuestionTest, TallerAnswerMeasuredLaterInvalidatesOnce) {
  load(question("oneCorrect", {{"A"}, {kLong}, {"B"}}));
  auto& cv = *collection();
  auto& layout = dynamic_cast<UICollectionViewFlowLayout&>(*cv.collectionViewLayout());
  auto size = [&](int row) { return *screen->sizeForItemAtIndexPath(cv, layout, {1, row}); };
  const int before = layout.invalidateLayoutCount();
  const CGSize shortTile = size(0);
  EXPECT_EQ(shortTile.width, 315);
  EXPECT_EQ(shortTile.height, 38);  // 10 + one line of 15-point text + 10
  const CGSize longTile = size(1);
  EXPECT_GT(longTile.height, shortTile.height);
  EXPECT_EQ(layout.invalidateLayoutCount(), before + 1);
  EXPECT_EQ(size(2).height, longTile.height);
  EXPECT_EQ(size(0).height, longTile.height);
  EXPECT_EQ(layout.invalidateLayoutCount(), before + 1);
  EXPECT_EQ(layout.itemSize(), longTile);
}

TEST_F(QuestionTest, TheTallestTileIsKeptForEachWidthApart) {
  // Two lines on a phone held upright, one on its side.
  load(question("oneCorrect", {{"A"}, {"Fifty characters of answer, two lines when upright"}, {"B"}}));
  auto& cv = *collection();
  auto& layout = dynamic_cast<UICollectionViewFlowLayout&>(*cv.collectionViewLayout());
  auto size = [&](int row) { return *screen->sizeForItemAtIndexPath(cv, layout, {1, row}); };
  auto turn = [&](CGSize to) {
    screen->view()->setFrame(CGRect{{0, 0}, to});
    cv.setFrame(CGRect{{0, 0}, to});
  };
  const CGFloat upright = size(1).height;
  EXPECT_EQ(std::tuple(size(0).height, size(2).height), std::tuple(upright, upright));
  turn({667, 375});
  for (int row : {0, 1, 2}) EXPECT_EQ(size(row), (CGSize{487, 38})) << row;
  turn({375, 667});
  EXPECT_GT(upright, 38);
  EXPECT_EQ(size(0), (CGSize{315, upright}));
  EXPECT_EQ(layout.itemSize(), (CGSize{315, upright}));
}

TEST_F(QuestionTest, WordCellFillsTheRestBelowTheQuestion) {
  load(question("getWord", {{"Paris"}}));
  auto& cv = *collection();
  auto& layout = *cv.collectionViewLayout();
  auto size = [&](int section) { return *screen->sizeForItemAtIndexPath(cv, layout, {section, 0}); };
  EXPECT_EQ(size(1), (CGSize{315, 80}));  // the question's height is not known yet
  const CGFloat question = size(0).height;
  EXPECT_EQ(size(1), (CGSize{315, 667 - (question + 20)}));
  cv.setFrame(CGRectMake(0, 0, 375, question + 49));  // 29 left: too little
  EXPECT_EQ(size(1), (CGSize{315, 80}));
}

TEST_F(QuestionTest, EachWidthIsMeasuredOnceAndRotatingBackMeasuresNothing) {
  show(question("oneCorrect", {{"A"}, {kLong}}));
  auto sizingWidth = [&] { return screen->sizingAnswerCell()->frame().size.width; };
  auto headerWidth = [&] { return screen->headerView()->frame().size.width; };
  const CGFloat portraitHeight = collection()->cellForItemAtIndexPath({1, 0})->frame().size.height;
  for (auto orientation : {UIDeviceOrientation::LandscapeLeft, UIDeviceOrientation::Portrait}) {
    UIDevice::currentDevice()->rotate(orientation);
    run("show");
    EXPECT_EQ(std::pair(sizingWidth(), headerWidth()), std::pair(487.0, 607.0));
  }
  EXPECT_EQ(std::pair(screen->headerHeightCache().size(), screen->cellHeightCache().size()), std::pair(2ul, 2ul));
  EXPECT_EQ(collection()->cellForItemAtIndexPath({1, 0})->frame().size.height, portraitHeight);

  auto& layout = *collection()->collectionViewLayout();
  const int before = layout.invalidateLayoutCount();
  NotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification);
  EXPECT_EQ(layout.invalidateLayoutCount(), before + 1);
  // A screen that is gone hears nothing more.
  window.reset();
  driver.reset();
  screen.reset();
  NotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification);
}

TEST_F(QuestionTest, AnswerTileLookPerIdiomAndMeasuring) {
  struct Case {
    UIUserInterfaceIdiom idiom;
    CGFloat scale, border, space, fontSize;
  };
  const Case cases[] = {{UIUserInterfaceIdiom::Phone, 2, 0.5, 10, 15}, {UIUserInterfaceIdiom::Pad, 4, 0.25, 20, 19}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fontSize);
    UIDevice::currentDevice()->setUserInterfaceIdiom(c.idiom);
    UIScreen::mainScreen()->setScale(c.scale);
    auto tile = std::dynamic_pointer_cast<AnswerCollectionViewCell>(loadNibNamed("AnswerCollectionViewCell").at(0));
    auto label = tile->answerLabel.lock();
    EXPECT_EQ(tile->topSpaceConstraint.lock()->constant(), c.space);
    EXPECT_EQ(tile->bottomSpaceConstraint.lock()->constant(), c.space);
    EXPECT_EQ(label->font(), UIFont::systemFontOfSize(c.fontSize));
    EXPECT_EQ(tile->layer().borderWidth, c.border);
    EXPECT_FALSE(tile->clipsToBounds()) << "the shadow shows around the tile";

    label->setText("Short");
    const CGSize one = tile->preferredLayoutSizeFittingSize({200, 39});
    label->setText(kLong);
    const CGSize more = tile->preferredLayoutSizeFittingSize({200, 39});
    EXPECT_EQ(one, (CGSize{200, 2 * c.space + label->font().lineHeight()}));
    EXPECT_EQ(more.width, 200);
    EXPECT_GT(more.height, one.height);
  }
}

}  // namespace
