#include <gtest/gtest.h>

#include "model/color.h"
#include "quiz/quiz_selector_button.h"

namespace {

using Op = void (QuizSelectorButton::*)();

// "marker shown/marker tint/body tint/number colour".
std::string look(const QuizSelectorButton& b) {
  auto name = [&b](const UIColor& c) {
    for (auto [color, text] : {std::pair{b.deselectedColor, "grey"},
                               {b.correctColor, "green"},
                               {b.falseColor, "red"},
                               {b.evaluateCurrentColor, "eval"},
                               {UIColor::whiteColor(), "white"}})
      if (c == color) return text;
    return c == UIColor::blackColor() ? "black" : "other";
  };
  return std::string(b.currentImageView.lock()->isHidden() ? "-" : "M") + "/" +
         name(b.currentImageView.lock()->tintColor()) + "/" + name(b.middleImageView.lock()->tintColor()) + "/" +
         name(b.numberLabel.lock()->textColor());
}

TEST(QuizSelectorButtonTest, LooksFollowTheOperations) {
  registerQuizSelectorButtonNib();
  const std::pair<std::vector<Op>, std::string> cases[] = {
      {{}, "-/grey/grey/black"},
      {{&QuizSelectorButton::setCurrent}, "M/grey/grey/black"},
      {{&QuizSelectorButton::setSelectedLook}, "-/grey/grey/white"},
      {{&QuizSelectorButton::setSelectedLook, &QuizSelectorButton::unsetSelected}, "-/grey/grey/black"},
      {{&QuizSelectorButton::setCurrent, &QuizSelectorButton::setCorrect}, "M/eval/green/white"},
      {{&QuizSelectorButton::setFalse, &QuizSelectorButton::setCurrent}, "M/eval/red/white"},
  };
  for (const auto& [ops, expected] : cases) {
    auto b = QuizSelectorButton::fromNib();
    b->evaluateCurrentColor = UIColor::colorWithRed(0, 0, 1, 1);
    b->setUp(false);
    for (auto op : ops) (b.get()->*op)();
    EXPECT_EQ(look(*b), expected);
    // A new set-up forgets every look.
    b->setUp(false);
    EXPECT_EQ(look(*b), "-/grey/grey/black");
    EXPECT_FALSE(b->isSelected());
  }
}

}  // namespace
