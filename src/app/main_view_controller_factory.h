#pragma once

#include <memory>
#include <string>
#include <typeinfo>

#include "platform/foundation/fatal_error.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_view_controller.h"

// Makes the screens of the "Main" storyboard, new on every call. The screen classes sit above
// this library, so each creation operation hands its screen out as a UIViewController and
// screenAs<T> gives it its own class. The operations are virtual so that a test can stand in
// for any of them. Main thread only.
class MainViewControllerFactory {
 public:
  // Loads the "Main" storyboard at once; a missing one stops the program.
  MainViewControllerFactory();
  virtual ~MainViewControllerFactory() = default;

  const std::shared_ptr<UIStoryboard>& storyboard() const { return storyboard_; }

  // The storyboard's initial scene; none, or another class, stops the program.
  virtual std::shared_ptr<UITabBarController> getMainTabBarController() const;

  // A new controller of the scene the operation is named after; an unknown identifier is the
  // toolkit's error.
  virtual std::shared_ptr<UIViewController> getLectureDetailsViewController() const;
  virtual std::shared_ptr<UIViewController> getCurriculumContentViewController() const;
  virtual std::shared_ptr<UIViewController> getCurriculumQuizesViewController() const;
  virtual std::shared_ptr<UIViewController> getQuizesViewController() const;
  virtual std::shared_ptr<UIViewController> getQuizContainerViewController() const;
  virtual std::shared_ptr<UIViewController> getSimpleQuestionViewController() const;
  virtual std::shared_ptr<UIViewController> getImageQuestionViewController() const;
  virtual std::shared_ptr<UIViewController> getVideoQuestionViewController() const;
  virtual std::shared_ptr<UIViewController> getAudioQuestionViewController() const;
  virtual std::shared_ptr<UIViewController> getTextQuestionViewController() const;
  virtual std::shared_ptr<UIViewController> getNewsContentViewController() const;
  virtual std::shared_ptr<UIViewController> getAttachmentViewController() const;

  // `screen` as its own class T; a screen of another class (a scene of the wrong class) stops the
  // program.
  template <class T>
  static std::shared_ptr<T> screenAs(const std::shared_ptr<UIViewController>& screen) {
    auto typed = std::dynamic_pointer_cast<T>(screen);
    if (!typed) wrongClass(screen, demangledClassName(typeid(T)));
    return typed;
  }

 protected:
  // A new controller of the scene `identifier`.
  std::shared_ptr<UIViewController> instantiate(const std::string& identifier) const;

 private:
  [[noreturn]] static void wrongClass(const std::shared_ptr<UIViewController>& screen, const std::string& expected);

  const std::shared_ptr<UIStoryboard> storyboard_;
};
