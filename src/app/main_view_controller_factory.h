#pragma once

#include <memory>
#include <string>
#include <typeinfo>

#include "platform/foundation/fatal_error.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_view_controller.h"

// The screens the factory makes; their libraries sit above this one, so each operation is a
// template whose class is complete where a screen calls it.
class LectureDetailsViewController;
class CurriculumContentViewController;
class CurriculumQuizesViewController;
class QuizesViewController;
class QuizContainerViewController;
class SimpleQuestionViewController;
class ImageQuestionViewController;
class VideoQuestionViewController;
class AudioQuestionViewController;
class TextQuestionViewController;
class NewsContentViewController;
class AttachmentViewController;

// Makes the screens of the "Main" storyboard, each as its own class and new on every call.
// Main thread only.
class MainViewControllerFactory {
 public:
  // Loads the "Main" storyboard at once; a missing one stops the program.
  MainViewControllerFactory();
  virtual ~MainViewControllerFactory() = default;

  const std::shared_ptr<UIStoryboard>& storyboard() const { return storyboard_; }

  // The storyboard's initial scene; none, or another class, stops the program.
  virtual std::shared_ptr<UITabBarController> getMainTabBarController() const;

  template <class T = LectureDetailsViewController>
  std::shared_ptr<T> getLectureDetailsViewController() const {
    return instantiate<T>("lectureDetailsViewController");
  }
  template <class T = CurriculumContentViewController>
  std::shared_ptr<T> getCurriculumContentViewController() const {
    return instantiate<T>("curriculumContentViewController");
  }
  template <class T = CurriculumQuizesViewController>
  std::shared_ptr<T> getCurriculumQuizesViewController() const {
    return instantiate<T>("curriculumQuizesViewController");
  }
  template <class T = QuizesViewController>
  std::shared_ptr<T> getQuizesViewController() const {
    return instantiate<T>("quizesViewController");
  }
  template <class T = QuizContainerViewController>
  std::shared_ptr<T> getQuizContainerViewController() const {
    return instantiate<T>("quizContainerViewController");
  }
  template <class T = SimpleQuestionViewController>
  std::shared_ptr<T> getSimpleQuestionViewController() const {
    return instantiate<T>("simpleQuestionViewController");
  }
  template <class T = ImageQuestionViewController>
  std::shared_ptr<T> getImageQuestionViewController() const {
    return instantiate<T>("imageQuestionViewController");
  }
  template <class T = VideoQuestionViewController>
  std::shared_ptr<T> getVideoQuestionViewController() const {
    return instantiate<T>("videoQuestionViewController");
  }
  template <class T = AudioQuestionViewController>
  std::shared_ptr<T> getAudioQuestionViewController() const {
    return instantiate<T>("audioQuestionViewController");
  }
  template <class T = TextQuestionViewController>
  std::shared_ptr<T> getTextQuestionViewController() const {
    return instantiate<T>("textQuestionViewController");
  }
  template <class T = NewsContentViewController>
  std::shared_ptr<T> getNewsContentViewController() const {
    return instantiate<T>("newsContentViewController");
  }
  template <class T = AttachmentViewController>
  std::shared_ptr<T> getAttachmentViewController() const {
    return instantiate<T>("attachmentViewController");
  }

  // A new controller of the scene `identifier`; a scene of another class than T stops the
  // program, an unknown identifier is the toolkit's error.
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
