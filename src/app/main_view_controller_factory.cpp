#include "app/main_view_controller_factory.h"

MainViewControllerFactory::MainViewControllerFactory() : storyboard_(UIStoryboard::storyboardWithName("Main")) {}

void MainViewControllerFactory::wrongClass(const std::string& identifier, const std::string& expected) {
  fatalError("Scene \"" + identifier + "\" of the Main storyboard is not a " + expected);
}
