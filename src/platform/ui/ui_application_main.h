#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/foundation/class_registry.h"
#include "platform/foundation/value.h"
#include "platform/ui/ui_application.h"

// Registers T as an application delegate class that UIApplicationMain can make by name.
template <class T>
void registerApplicationDelegateClass(const std::string& name) {
  static_assert(std::is_base_of_v<UIApplicationDelegate, T>);
  ClassRegistry::shared().registerClass<UIApplicationDelegate>(
      name, []() -> std::shared_ptr<UIApplicationDelegate> { return std::make_shared<T>(); });
}

// Registers T as an application class (the principal class) by name.
template <class T>
void registerApplicationClass(const std::string& name) {
  static_assert(std::is_base_of_v<UIApplication, T>);
  ClassRegistry::shared().registerClass<UIApplication>(
      name, []() -> std::shared_ptr<UIApplication> { return std::make_shared<T>(); });
}

// The start-up of UIApplicationMain without its run loop: makes the application (the principal
// class, or UIApplication) and the delegate by class name (an unknown name stops the program);
// instantiates the initial scene of the main storyboard (named by "UIMainStoryboardFile" in the
// main bundle's info dictionary) into a new window, which the delegate keeps; tells the delegate
// that launching finished; shows the window (the root's view loads only now) and makes the
// application active.
std::shared_ptr<UIApplication> UIApplicationLaunch(
    const std::optional<std::string>& principalClassName, const std::optional<std::string>& delegateClassName,
    const std::optional<Value::Dictionary>& launchOptions = std::nullopt);

// The program's user interface: the start-up above, then the console driver over the script
// file named by the first argument, or standard input, until quit or the end of the input. The
// application then hears that it terminates. Returns 0, or 1 when the script file or standard
// input cannot be read, or when a command of the script file printed a "! " line (the script
// still runs to its end; one line on standard error counts them and names the first).
int UIApplicationMain(int argc, char* argv[], const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName);
