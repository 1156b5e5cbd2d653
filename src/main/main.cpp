#include <cstdio>

#include "main/application_classes.h"
#include "main/command_line.h"
#include "main/developer_log.h"
#include "main/startup_check.h"
#include "platform/ui/ui_application_main.h"

int main(int argc, char* argv[]) {
  CommandLine::set(argc, argv);
  if (auto problem = startupProblem()) {
    std::fprintf(stderr, "dorvale: %s\n", problem->c_str());
    return 1;
  }
  if (auto where = routeDeveloperLog()) std::fprintf(stderr, "%s\n", where->c_str());
  registerApplicationClasses();
  return UIApplicationMain(argc, argv, std::nullopt, "AppDelegate");
}
