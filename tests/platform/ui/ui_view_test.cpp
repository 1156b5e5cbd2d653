#include "platform/ui/ui_view.h"

#include <gtest/gtest.h>

#include "platform/ui/render.h"

TEST(UIViewTest, TintColorComesFromTheNearestAncestorThatHasOne) {
  auto root = UIView::make();
  auto middle = UIView::make();
  auto leaf = UIView::make();
  root->addSubview(middle);
  middle->addSubview(leaf);
  EXPECT_EQ(leaf->tintColor(), UIColor::systemTintColor());
  root->setTintColor(UIColor::redColor());
  EXPECT_EQ(leaf->tintColor(), UIColor::redColor());
  middle->setTintColor(UIColor::greenColor());
  EXPECT_EQ(leaf->tintColor(), UIColor::greenColor());
  middle->setTintColor(std::nullopt);
  EXPECT_EQ(leaf->tintColor(), UIColor::redColor());
  leaf->removeFromSuperview();
  EXPECT_EQ(leaf->tintColor(), UIColor::systemTintColor());
}
