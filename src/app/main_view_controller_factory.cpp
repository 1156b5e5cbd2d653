#include "app/main_view_controller_factory.h"

MainViewControllerFactory::MainViewControllerFactory() : storyboard_(UIStoryboard::storyboardWithName("Main")) {}

std::shared_ptr<UITabBarController> MainViewControllerFactory::getMainTabBarController() const {
  auto tabBar = std::dynamic_pointer_cast<UITabBarController>(storyboard_->instantiateInitialViewController());
  if (!tabBar) fatalError("The initial scene of the Main storyboard is missing or not a UITabBarController");
  return tabBar;
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getLectureDetailsViewController() const {
  return instantiate("lectureDetailsViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getCurriculumContentViewController() const {
  return instantiate("curriculumContentViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getCurriculumQuizesViewController() const {
  return instantiate("curriculumQuizesViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getQuizesViewController() const {
  return instantiate("quizesViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getQuizContainerViewController() const {
  return instantiate("quizContainerViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getSimpleQuestionViewController() const {
  return instantiate("simpleQuestionViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getImageQuestionViewController() const {
  return instantiate("imageQuestionViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getVideoQuestionViewController() const {
  return instantiate("videoQuestionViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getAudioQuestionViewController() const {
  return instantiate("audioQuestionViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getTextQuestionViewController() const {
  return instantiate("textQuestionViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getNewsContentViewController() const {
  return instantiate("newsContentViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::getAttachmentViewController() const {
  return instantiate("attachmentViewController");
}

std::shared_ptr<UIViewController> MainViewControllerFactory::instantiate(const std::string& identifier) const {
  return storyboard_->instantiateViewControllerWithIdentifier(identifier);
}

void MainViewControllerFactory::wrongClass(const std::shared_ptr<UIViewController>& screen,
                                           const std::string& expected) {
  if (!screen) fatalError("No screen where a " + expected + " was expected");
  if (screen->storyboardIdentifier().empty()) fatalError("The screen " + screen->className() + " is not a " + expected);
  fatalError("Scene \"" + screen->storyboardIdentifier() + "\" of the Main storyboard is not a " + expected);
}
