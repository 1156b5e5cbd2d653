#include "platform/ui/ui_application_main.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <fmt/format.h>

#include "platform/foundation/bundle.h"
#include "platform/foundation/fatal_error.h"
#include "platform/ui/console_driver.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_window.h"

namespace {

// Lists of thousands of items pass through large short-lived blocks (a reply, its parse, the
// screen's text). Once the first such block is freed the allocator raises the size it maps apart,
// and the later ones are cut from the heap between the cells that outlive them, where their pages
// stay resident. A fixed threshold gives each one its own mapping, returned when it is freed; set
// above what a single request or picture needs, so that those stay in the heap.
void mapLargeBlocksApart() {
  constexpr int kLargeBlock = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, kLargeBlock);
  mallopt(M_TRIM_THRESHOLD, kLargeBlock);
}

// "dorvale: 2 commands of quiz.txt failed; the first, line 14 "tpa Evaluate": Unknown command ...".
std::string scriptFailures(const std::string& script, const ConsoleDriver::Failures& failed) {
  const auto command = failed.command.empty() ? "" : fmt::format(" \"{}\"", failed.command);
  if (failed.count == 1)
    return fmt::format("dorvale: 1 command of {} failed; line {}{}: {}\n", script, failed.line, command, failed.message);
  return fmt::format("dorvale: {} commands of {} failed; the first, line {}{}: {}\n", failed.count, script,
                     failed.line, command, failed.message);
}

}  // namespace

std::shared_ptr<UIApplication> UIApplicationLaunch(const std::optional<std::string>& principalClassName,
                                                   const std::optional<std::string>& delegateClassName,
                                                   const std::optional<Value::Dictionary>& launchOptions) {
  mapLargeBlocksApart();
  std::shared_ptr<UIApplication> application;
  if (principalClassName) {
    application = ClassRegistry::shared().make<UIApplication>(*principalClassName);
    if (!application)
      fatalError("Unable to instantiate the UIApplication subclass instance named " + *principalClassName);
  } else {
    application = std::make_shared<UIApplication>();
  }
  UIApplication::setSharedApplication(application);

  std::shared_ptr<UIApplicationDelegate> delegate;
  if (delegateClassName) {
    delegate = ClassRegistry::shared().make<UIApplicationDelegate>(*delegateClassName);
    if (!delegate) fatalError("Unable to instantiate the UIApplication delegate instance named " + *delegateClassName);
  }
  application->setDelegate(delegate);

  std::optional<std::string> storyboardName;
  if (auto value = Bundle::main()->objectForInfoDictionaryKey("UIMainStoryboardFile"); value && value->asString()) {
    storyboardName = *value->asString();
  }
  std::shared_ptr<UIWindow> window;
  if (storyboardName) {
    auto root = UIStoryboard::storyboardWithName(*storyboardName)->instantiateInitialViewController();
    if (!root) {
      std::fprintf(stderr, "Failed to instantiate the default view controller for UIMainStoryboardFile '%s'\n",
                   storyboardName->c_str());
    }
    window = UIWindow::make();
    window->setRootViewController(root);
    if (delegate) delegate->setWindow(window);
  }

  if (delegate) delegate->applicationDidFinishLaunchingWithOptions(*application, launchOptions);

  if (delegate && delegate->window()) window = delegate->window();
  if (window) window->makeKeyAndVisible();
  application->becomeActive();
  return application;
}

int UIApplicationMain(int argc, char* argv[], const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName) {
  auto application = UIApplicationLaunch(principalClassName, delegateClassName);
  application->setWebBrowser([](const URL& url) { return ExternalBrowser::start(url); });
  ConsoleDriver driver(std::cout);
  int status = 0;
  if (argc > 1 && argv[1]) {
    if (!driver.runScriptFile(argv[1])) {
      std::fprintf(stderr, "Cannot read the script file %s\n", argv[1]);
      status = 1;
    } else if (const auto& failed = driver.failures(); failed.count > 0) {
      // A script runs unattended: what it could not do must show in its status, not only on screen.
      std::fputs(scriptFailures(argv[1], failed).c_str(), stderr);
      status = 1;
    }
  } else {
    const bool terminal = isatty(STDIN_FILENO);
    driver.setEchoCommands(!terminal);
    if (terminal) std::cout << "Type 'help' for the list of commands.\n";
    if (!driver.runInteractive(std::cin)) {
      std::fprintf(stderr, "Cannot read standard input\n");
      status = 1;
    }
  }
  application->terminate();
  return status;
}
