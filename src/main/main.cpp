#include "main/application_classes.h"
#include "main/command_line.h"
#include "platform/ui/ui_application_main.h"

int main(int argc, char* argv[]) {
  CommandLine::set(argc, argv);
  registerApplicationClasses();
  return UIApplicationMain(argc, argv, std::nullopt, "AppDelegate");
}
