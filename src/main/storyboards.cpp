#include "main/storyboards.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "account/login_view_controller.h"
#include "browse/attachment_view_controller.h"
#include "browse/curriculum_content_view_controller.h"
#include "browse/curriculum_quizes_view_controller.h"
#include "browse/lecture_details_view_controller.h"
#include "browse/news_content_view_controller.h"
#include "browse/quizes_view_controller.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard.h"
#include "quiz/audio_question_view_controller.h"
#include "quiz/image_question_view_controller.h"
#include "quiz/quiz_container_view_controller.h"
#include "quiz/simple_question_view_controller.h"
#include "quiz/text_question_view_controller.h"
#include "quiz/video_question_view_controller.h"

namespace {

// A scene made by identifier whose class is named after it: "quizesViewController" is a
// QuizesViewController.
template <class T>
UIStoryboardScene classScene(const std::string& className) {
  registerViewControllerClass<T>(className);
  std::string identifier = className;
  identifier[0] = static_cast<char>(identifier[0] - 'A' + 'a');
  return {identifier, className, {}, {}, {}};
}

// The tabs of the main tab bar: scene name and the key of the tab's title.
const std::vector<std::pair<std::string, std::string>>& mainTabs() {
  static const std::vector<std::pair<std::string, std::string>> tabs = {{"lectures", "lectures_tabbar_title"},
                                                                        {"lectureQuizes", "lecturequizes_tabbar_title"},
                                                                        {"news", "newslist_tabbar_title"},
                                                                        {"achievements", "achievement_tabbar_title"},
                                                                        {"profile", "profile_navigation_title"}};
  return tabs;
}

// A tab's navigation controller: its tab item has the tab's title from the start, as an item set
// in a storyboard would, and not only once the user has opened the tab.
class TabNavigationController : public UINavigationController {
 public:
  TabNavigationController() = default;
  explicit TabNavigationController(const NSCoder& coder) : UINavigationController(coder) {}

  void awakeFromNib() override {
    UINavigationController::awakeFromNib();
    for (const auto& [name, titleKey] : mainTabs()) {
      if (storyboardIdentifier() == name + "Navigation") tabBarItem()->setTitle(NSLocalizedString(titleKey));
    }
  }
};

// A tab until its screen exists: a navigation controller whose root shows the tab's title.
std::vector<UIStoryboardScene> placeholderTab(const std::string& name, const std::string& titleKey) {
  return {{name + "Navigation", "TabNavigationController", {name}, {}, {}},
          {name, "UIViewController", {}, {}, [titleKey](UIStoryboardSceneBuilder& b) {
             b.controller().setTitle(NSLocalizedString(titleKey));
           }}};
}

}  // namespace

void registerStartupStoryboard() {
  registerViewControllerClass<LoginViewController>("LoginViewController");
  UIStoryboard::registerStoryboard("Startup", "startupNavigation",
                                   {{"startupNavigation", "UINavigationController", {"login"}, {}, {}},
                                    {"login", "LoginViewController", {}, {}, [](UIStoryboardSceneBuilder& b) {
                                       b.controller().setTitle(NSLocalizedString("login_title"));
                                     }}});
}

void registerMainStoryboard() {
  registerViewControllerClass<TabNavigationController>("TabNavigationController");
  std::vector<UIStoryboardScene> scenes = {
      {"mainTabBar",
       "UITabBarController",
       {"lecturesNavigation", "lectureQuizesNavigation", "newsNavigation", "achievementsNavigation",
        "profileNavigation"},
       {},
       {}},
      classScene<LectureDetailsViewController>("LectureDetailsViewController"),
      classScene<CurriculumContentViewController>("CurriculumContentViewController"),
      classScene<CurriculumQuizesViewController>("CurriculumQuizesViewController"),
      classScene<QuizesViewController>("QuizesViewController"),
      classScene<QuizContainerViewController>("QuizContainerViewController"),
      classScene<SimpleQuestionViewController>("SimpleQuestionViewController"),
      classScene<ImageQuestionViewController>("ImageQuestionViewController"),
      classScene<VideoQuestionViewController>("VideoQuestionViewController"),
      classScene<AudioQuestionViewController>("AudioQuestionViewController"),
      classScene<TextQuestionViewController>("TextQuestionViewController"),
      classScene<NewsContentViewController>("NewsContentViewController"),
      classScene<AttachmentViewController>("AttachmentViewController"),
  };
  for (const auto& [name, titleKey] : mainTabs()) {
    for (auto& scene : placeholderTab(name, titleKey)) scenes.push_back(std::move(scene));
  }
  UIStoryboard::registerStoryboard("Main", "mainTabBar", std::move(scenes));
}
