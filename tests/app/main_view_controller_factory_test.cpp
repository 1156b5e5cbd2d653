#include "app/main_view_controller_factory.h"

#include <gtest/gtest.h>

#include "platform/ui/ui_navigation_controller.h"

namespace {

class FirstScreen : public UIViewController {};
class DetailsScreen : public UIViewController {};

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerViewControllerClass<FirstScreen>("FactoryTestFirstScreen");
    registerViewControllerClass<DetailsScreen>("FactoryTestDetailsScreen");
    registerViewControllerClass<UIViewController>("FactoryTestPlainScreen");
    UIStoryboard::registerStoryboard("Main", "tabs",
                                     {{"tabs", "UITabBarController", {"firstScreen"}, {}, {}},
                                      {"firstScreen", "FactoryTestFirstScreen", {}, {}, {}},
                                      {"lectureDetailsViewController", "FactoryTestDetailsScreen", {}, {}, {}},
                                      {"quizContainerViewController", "FactoryTestPlainScreen", {}, {}, {}}});
  }
  void TearDown() override { UIStoryboard::unregisterStoryboard("Main"); }
};

}  // namespace

TEST_F(FactoryTest, EveryCallMakesANewScreenOfItsOwnClass) {
  MainViewControllerFactory factory;
  auto tabs = factory.getMainTabBarController();
  ASSERT_NE(tabs, nullptr);
  EXPECT_NE(tabs, factory.getMainTabBarController());
  EXPECT_EQ(tabs->storyboardIdentifier(), "tabs") << "the initial scene";

  auto details = factory.getLectureDetailsViewController<DetailsScreen>();
  ASSERT_NE(details, nullptr);
  EXPECT_NE(details, factory.getLectureDetailsViewController<DetailsScreen>());
  EXPECT_FALSE(details->isViewLoaded());
}

TEST_F(FactoryTest, AWrongSceneClassOrAMissingTabBarStopsTheProgram) {
  MainViewControllerFactory factory;
  EXPECT_DEATH(factory.getQuizContainerViewController<FirstScreen>(), "quizContainerViewController.*not a .*FirstScreen");
  EXPECT_DEATH(factory.instantiate<UINavigationController>("firstScreen"), "not a");

  UIStoryboard::registerStoryboard("Main", std::nullopt, {{"firstScreen", "FactoryTestFirstScreen", {}, {}, {}}});
  EXPECT_DEATH(MainViewControllerFactory().getMainTabBarController(), "initial scene");
  UIStoryboard::registerStoryboard("Main", "firstScreen", {{"firstScreen", "FactoryTestFirstScreen", {}, {}, {}}});
  EXPECT_DEATH(MainViewControllerFactory().getMainTabBarController(), "UITabBarController");
}
