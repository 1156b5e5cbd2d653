#include "app/main_view_controller_factory.h"

#include <gtest/gtest.h>

#include "platform/ui/ui_navigation_controller.h"

namespace {

class FirstScreen : public UIViewController {};

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerViewControllerClass<FirstScreen>("FactoryTestFirstScreen");
    registerViewControllerClass<UIViewController>("FactoryTestPlainScreen");
    UIStoryboard::registerStoryboard("Main", std::nullopt,
                                     {{"firstScreen", "FactoryTestFirstScreen", {}, {}, {}},
                                      {"plainScreen", "FactoryTestPlainScreen", {}, {}, {}}});
  }
  void TearDown() override { UIStoryboard::unregisterStoryboard("Main"); }
};

}  // namespace

TEST_F(FactoryTest, LoadsTheMainStoryboardAndMakesANewScreenOfTheAskedClassEachTime) {
  MainViewControllerFactory factory;
  ASSERT_NE(factory.storyboard(), nullptr);
  EXPECT_EQ(factory.storyboard()->name(), "Main");

  auto first = factory.instantiate<FirstScreen>("firstScreen");
  auto second = factory.instantiate<FirstScreen>("firstScreen");
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_NE(factory.instantiate<UIViewController>("firstScreen"), nullptr);
}

TEST_F(FactoryTest, ASceneOfAnotherClassStopsTheProgram) {
  MainViewControllerFactory factory;
  EXPECT_DEATH(factory.instantiate<FirstScreen>("plainScreen"), "plainScreen.*not a .*FirstScreen");
  EXPECT_DEATH(factory.instantiate<UINavigationController>("firstScreen"), "not a");
}
