#pragma once

#include <memory>
#include <string>
#include <typeinfo>

#include "platform/foundation/fatal_error.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_view_controller.h"

// Makes the screens of the "Main" storyboard, each as its own class. Main thread only.
class MainViewControllerFactory {
 public:
  // Loads the "Main" storyboard at once; a missing one stops the program.
  MainViewControllerFactory();
  virtual ~MainViewControllerFactory() = default;

  const std::shared_ptr<UIStoryboard>& storyboard() const { return storyboard_; }

  // A new controller of the scene `identifier`; a scene of another class than T stops the program.
  template <class T>
  std::shared_ptr<T> instantiate(const std::string& identifier) const {
    auto typed = std::dynamic_pointer_cast<T>(storyboard_->instantiateViewControllerWithIdentifier(identifier));
    if (!typed) wrongClass(identifier, demangledClassName(typeid(T)));
    return typed;
  }

 private:
  [[noreturn]] static void wrongClass(const std::string& identifier, const std::string& expected);

  const std::shared_ptr<UIStoryboard> storyboard_;
};
