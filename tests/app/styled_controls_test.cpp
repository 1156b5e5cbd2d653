#include <gtest/gtest.h>

#include "app/profile_text_field.h"
#include "app/startup_button.h"
#include "app/startup_text_field.h"
#include "platform/ui/ui_screen.h"

TEST(StyledControlsTest, StartupControlsKeepTheirMarginsAndGetTheirLookOnlyOnWaking) {
  StartupTextField field(CGRectMake(0, 0, 200, 44));
  const CGRect bounds = CGRectMake(5, 2, 200, 44);
  for (CGRect r :
       {field.textRectForBounds(bounds), field.placeholderRectForBounds(bounds), field.editingRectForBounds(bounds)}) {
    EXPECT_EQ(r, CGRectMake(37, 2, 136, 44));
  }
  EXPECT_EQ(field.backgroundColor(), std::nullopt);

  StartupTextField woken{NSCoder{}};
  EXPECT_EQ(woken.padding(), UIEdgeInsetsMake(0, 32, 0, 32));
  woken.awakeFromNib();
  EXPECT_EQ(woken.backgroundColor(), UIColor::colorWithRed(0, 0, 0, 0.5));

  StartupButton button{NSCoder{}};
  button.awakeFromNib();
  EXPECT_EQ(button.layer().cornerRadius, 3);
}

TEST(StyledControlsTest, ProfileFieldsGetAOnePixelBorderInTheTintOfTheMomentTheyWake) {
  UIScreen::mainScreen()->setScale(2);
  auto container = UIView::make();
  container->setTintColor(UIColor::redColor());
  auto field = std::make_shared<ProfileTextField>(NSCoder{});
  container->addSubview(field);
  EXPECT_EQ(field->editingRectForBounds(CGRectMake(0, 0, 100, 30)), CGRectMake(10, 0, 80, 30));
  field->awakeFromNib();
  EXPECT_DOUBLE_EQ(field->layer().borderWidth, 0.5);
  EXPECT_EQ(field->layer().borderColor, UIColor::redColor());
  container->setTintColor(UIColor::greenColor());
  EXPECT_EQ(field->layer().borderColor, UIColor::redColor());

  UIScreen::mainScreen()->setScale(3);
  ProfileTextField sharp{NSCoder{}};
  sharp.awakeFromNib();
  EXPECT_DOUBLE_EQ(sharp.layer().borderWidth, 1.0 / 3);
  EXPECT_EQ(ProfileTextField(CGRectMake(0, 0, 100, 30)).layer().borderWidth, 0);
  UIScreen::resetMainScreen();
}
