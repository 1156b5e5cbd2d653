#include "app/main_view_controller_factory.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/ui/ui_navigation_controller.h"

namespace {

class FirstScreen : public UIViewController {};
class DetailsScreen : public UIViewController {};

using Operation = std::shared_ptr<UIViewController> (MainViewControllerFactory::*)() const;
const std::vector<std::pair<Operation, std::string>> kScenes = {
    {&MainViewControllerFactory::getLectureDetailsViewController, "lectureDetailsViewController"},
    {&MainViewControllerFactory::getCurriculumContentViewController, "curriculumContentViewController"},
    {&MainViewControllerFactory::getCurriculumQuizesViewController, "curriculumQuizesViewController"},
    {&MainViewControllerFactory::getQuizesViewController, "quizesViewController"},
    {&MainViewControllerFactory::getQuizContainerViewController, "quizContainerViewController"},
    {&MainViewControllerFactory::getSimpleQuestionViewController, "simpleQuestionViewController"},
    {&MainViewControllerFactory::getImageQuestionViewController, "imageQuestionViewController"},
    {&MainViewControllerFactory::getVideoQuestionViewController, "videoQuestionViewController"},
    {&MainViewControllerFactory::getAudioQuestionViewController, "audioQuestionViewController"},
    {&MainViewControllerFactory::getTextQuestionViewController, "textQuestionViewController"},
    {&MainViewControllerFactory::getNewsContentViewController, "newsContentViewController"},
    {&MainViewControllerFactory::getAttachmentViewController, "attachmentViewController"},
};

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerViewControllerClass<FirstScreen>("FactoryTestFirstScreen");
    registerViewControllerClass<DetailsScreen>("FactoryTestDetailsScreen");
    std::vector<UIStoryboardScene> scenes = {{"tabs", "UITabBarController", {"firstScreen"}, {}, {}},
                                             {"firstScreen", "FactoryTestFirstScreen", {}, {}, {}}};
    for (const auto& [operation, identifier] : kScenes) {
      const char* screenClass =
          identifier == "lectureDetailsViewController" ? "FactoryTestDetailsScreen" : "UIViewController";
      scenes.push_back({identifier, screenClass, {}, {}, {}});
    }
    UIStoryboard::registerStoryboard("Main", "tabs", std::move(scenes));
  }
  void TearDown() override { UIStoryboard::unregisterStoryboard("Main"); }
};

TEST_F(FactoryTest, EveryCallMakesANewScreenOfItsScene) {
  MainViewControllerFactory factory;
  auto tabs = factory.getMainTabBarController();
  EXPECT_NE(tabs, factory.getMainTabBarController());
  EXPECT_EQ(tabs->storyboardIdentifier(), "tabs") << "the initial scene";

  for (const auto& [operation, identifier] : kScenes) {
    auto screen = (factory.*operation)();
    EXPECT_EQ(screen->storyboardIdentifier(), identifier);
    EXPECT_NE(screen, (factory.*operation)()) << identifier;
    EXPECT_FALSE(screen->isViewLoaded()) << identifier;
  }
  EXPECT_NE(MainViewControllerFactory::screenAs<DetailsScreen>(factory.getLectureDetailsViewController()), nullptr);
}

TEST_F(FactoryTest, ATestDoubleStandsInForAScreen) {
  struct QuizContainerDouble : MainViewControllerFactory {
    std::shared_ptr<UIViewController> getQuizContainerViewController() const override { return screen; }
    std::shared_ptr<FirstScreen> screen = std::make_shared<FirstScreen>();
  } stand;
  const MainViewControllerFactory& factory = stand;
  EXPECT_EQ(MainViewControllerFactory::screenAs<FirstScreen>(factory.getQuizContainerViewController()), stand.screen);
  EXPECT_EQ(factory.getQuizesViewController()->storyboardIdentifier(), "quizesViewController");
}

TEST_F(FactoryTest, AWrongSceneClassOrAMissingTabBarStopsTheProgram) {
  MainViewControllerFactory factory;
  EXPECT_DEATH(MainViewControllerFactory::screenAs<FirstScreen>(factory.getQuizContainerViewController()),
               "quizContainerViewController.*not a .*FirstScreen");
  EXPECT_DEATH(MainViewControllerFactory::screenAs<UINavigationController>(std::make_shared<FirstScreen>()),
               "FirstScreen is not a UINavigationController");

  UIStoryboard::registerStoryboard("Main", std::nullopt, {{"firstScreen", "FactoryTestFirstScreen", {}, {}, {}}});
  EXPECT_DEATH(MainViewControllerFactory().getMainTabBarController(), "initial scene");
  UIStoryboard::registerStoryboard("Main", "firstScreen", {{"firstScreen", "FactoryTestFirstScreen", {}, {}, {}}});
  EXPECT_DEATH(MainViewControllerFactory().getMainTabBarController(), "UITabBarController");
}

}  // namespace
