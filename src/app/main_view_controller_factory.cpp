#include "app/main_view_controller_factory.h"

MainViewControllerFactory::MainViewControllerFactory() : storyboard_(UIStoryboard::storyboardWithName("Main")) {}

std::shared_ptr<UITabBarController> MainViewControllerFactory::getMainTabBarController() const {
  auto tabBar = std::dynamic_pointer_cast<UITabBarController>(storyboard_->instantiateInitialViewController());
  if (!tabBar) fatalError("The initial scene of the Main storyboard is missing or not a UITabBarController");
  return tabBar;
}

void MainViewControllerFactory::wrongClass(const std::string& identifier, const std::string& expected) {
  fatalError("Scene \"" + identifier + "\" of the Main storyboard is not a " + expected);
}
