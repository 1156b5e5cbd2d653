#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ui/ui_activity_indicator_view.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_label.h"

TEST(UIColorTest, ModelCountsInEqualityAndHueRoundTrips) {
  EXPECT_NE(UIColor::whiteColor(), UIColor::colorWithRed(1, 1, 1, 1));  // grey white is not RGB white
  EXPECT_EQ(UIColor::whiteColor(), UIColor::colorWithWhite(1, 1));
  EXPECT_EQ(UIColor::clearColor().alpha(), 0);
  EXPECT_EQ(UIColor::redColor().colorWithAlphaComponent(2).alpha(), 1);  // kept within 0...1

  auto teal = UIColor::colorWithRed(0.2, 0.6, 0.5, 1);
  double h = 0, s = 0, b = 0, a = 0;
  ASSERT_TRUE(teal.getHue(&h, &s, &b, &a));
  auto back = UIColor::colorWithHue(h, s, b, a);
  EXPECT_NEAR(std::abs(back.red() - 0.2) + std::abs(back.green() - 0.6) + std::abs(back.blue() - 0.5), 0, 1e-9);
  EXPECT_NEAR(b, 0.6, 1e-9);

  double w = 0;
  EXPECT_FALSE(teal.getWhite(&w, nullptr));  // answers, but says it is not a grey
  EXPECT_TRUE(UIColor::darkGrayColor().getWhite(&w, nullptr));
  EXPECT_NEAR(w, 1.0 / 3, 1e-9);
  EXPECT_EQ(UIColor::colorWithHue(std::nan(""), 1, 1, 1), UIColor::colorWithRed(1, 0, 0, 1));
  EXPECT_EQ(UIColor::colorWithRed(0, 122.0 / 255, 1, 1).description(), "#007AFFFF");
}

TEST(UILabelTest, MeasuresWrappedLinesDeterministically) {
  auto label = UILabel::make();
  label->setFont(UIFont::systemFontOfSize(10));  // 5 points a character, 12 a line
  label->setText("abcdefghij");                  // 50 points wide
  EXPECT_EQ(label->sizeThatFits({0, 0}), (CGSize{50, 12}));
  EXPECT_EQ(label->sizeThatFits({20, 0}), (CGSize{50, 12}));  // one line only: no wrapping
  label->setNumberOfLines(0);
  EXPECT_EQ(label->lineCountForWidth(20), 3);
  EXPECT_EQ(label->sizeThatFits({20, 0}), (CGSize{20, 36}));
  label->setText("ab\nabcdefghij");
  EXPECT_EQ(label->lineCountForWidth(20), 4);
  label->setNumberOfLines(2);
  EXPECT_EQ(label->lineCountForWidth(20), 2);
  label->setPreferredMaxLayoutWidth(25);
  EXPECT_EQ(label->systemLayoutSizeFittingSize({100, 0}), (CGSize{100, 24}));
  label->setText(std::nullopt);
  EXPECT_EQ(label->sizeThatFits({20, 0}), (CGSize{0, 0}));

  // A container stacks what its visible subviews need.
  auto cell = UIView::make(CGRectMake(0, 0, 10, 10));
  auto title = UILabel::make();
  title->setText("abc");
  auto hidden = UILabel::make();
  hidden->setText("x");
  hidden->setHidden(true);
  cell->addSubview(title);
  cell->addSubview(hidden);
  EXPECT_EQ(cell->systemLayoutSizeFittingSize({80, 0}).height, title->font().lineHeight());
}

TEST(UILabelTest, LabelsStyledAlikeStayApartWhenOneChanges) {
  auto styled = [](const UIColor& color) {
    auto label = UILabel::make();
    label->setShadowColor(UIColor::darkGrayColor());
    label->setShadowOffset({0, 1});
    label->setTextColor(color);
    return label;
  };
  auto first = styled(UIColor::whiteColor());
  auto second = styled(UIColor::whiteColor());
  auto third = styled(UIColor::redColor());
  second->setFont(UIFont::boldSystemFontOfSize(30));
  second->setNumberOfLines(0);
  EXPECT_EQ(std::tuple(first->font(), first->numberOfLines(), first->textColor(), *first->shadowColor()),
            std::tuple(UIFont(), 1, UIColor::whiteColor(), UIColor::darkGrayColor()));
  EXPECT_EQ(std::tuple(second->font(), second->numberOfLines(), second->shadowOffset()),
            std::tuple(UIFont::boldSystemFontOfSize(30), 0, CGSize{0, 1}));
  EXPECT_EQ(third->textColor(), UIColor::redColor());

  // Back to the look it had, and the others keep theirs.
  second->setFont(UIFont());
  second->setNumberOfLines(1);
  first->setShadowColor(std::nullopt);
  first->setTextColor(std::nullopt);
  EXPECT_EQ(std::tuple(second->font(), second->numberOfLines(), *second->shadowColor()),
            std::tuple(UIFont(), 1, UIColor::darkGrayColor()));
  EXPECT_EQ(std::tuple(first->shadowColor(), first->textColor(), first->shadowOffset()),
            std::tuple(std::optional<UIColor>(), UIColor::blackColor(), CGSize{0, 1}));

  // Many looks come and go; each label keeps its own.
  std::vector<std::pair<std::shared_ptr<UILabel>, int>> labels;
  for (int i = 0; i < 300; ++i) {
    labels.emplace_back(UILabel::make(), i % 150);
    labels.back().first->setFont(UIFont::systemFontOfSize(i % 150));
    if (i % 3 == 0) labels.erase(labels.begin());
  }
  for (std::size_t i = 0; i < labels.size(); i += 2) labels[i].first->setMinimumScaleFactor(0.5);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const auto& [label, size] = labels[i];
    EXPECT_EQ(std::pair(label->font().pointSize(), label->minimumScaleFactor()),
              std::pair(static_cast<double>(size), i % 2 ? 0.0 : 0.5))
        << i;
  }
}

TEST(UIActivityIndicatorViewTest, HidesWhenStoppedUnlessTold) {
  auto spinner = UIActivityIndicatorView::make();
  EXPECT_TRUE(spinner->isHidden());
  spinner->startAnimating();
  EXPECT_FALSE(spinner->isHidden());
  spinner->stopAnimating();
  EXPECT_TRUE(spinner->isHidden());
  spinner->setHidesWhenStopped(false);
  EXPECT_FALSE(spinner->isHidden());
  spinner->startAnimating();
  spinner->stopAnimating();
  EXPECT_FALSE(spinner->isHidden());
}
