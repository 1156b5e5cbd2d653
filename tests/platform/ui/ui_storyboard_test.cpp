#include "platform/ui/ui_storyboard.h"

#include <gtest/gtest.h>

#include "controller_test_support.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_window.h"

namespace {

// A styled field that records its wake-up, as storyboard classes style themselves.
class AwakeField : public UITextField {
 public:
  using UITextField::UITextField;
  void awakeFromNib() override { testLog()->push_back("field.awakeFromNib " + std::string(window() ? "in" : "out")); }
};

class FormController : public Recorder {
 public:
  explicit FormController(const NSCoder&) : Recorder("form") {}
  void awakeFromNib() override { note("awakeFromNib"); }
  bool shouldPerformSegueWithIdentifier(const std::string& id, const std::shared_ptr<void>& sender) override {
    note("shouldPerform " + id + (sender == goButton.lock() ? " from go" : ""));
    return allowSegue;
  }
  void goTap(UIControl&) { note("goTap " + nameField.lock()->text().value_or("")); }

  std::weak_ptr<AwakeField> nameField;
  std::weak_ptr<UIButton> goButton;
  bool allowSegue = true;
};

class DetailController : public Recorder {
 public:
  DetailController() : Recorder("detail") {}
};

class OtherController : public UIViewController {};

class StoryboardTest : public ControllerTest {
 protected:
  StoryboardTest() {
    registerViewControllerClass<FormController>("FormController");
    registerViewControllerClass<DetailController>("DetailController");
    registerViewControllerClass<OtherController>("OtherController");
    UIStoryboardScene root{"root", "UINavigationController", {"form"}, {}, {}};
    UIStoryboardScene form{"form",
                           "FormController",
                           {},
                           {{"showDetail", "detail", UIStoryboardSegueKind::Show},
                            {"presentDetail", "detail", UIStoryboardSegueKind::Present}},
                           [](UIStoryboardSceneBuilder& b) {
                             auto& vc = b.controllerAs<FormController>();
                             vc.nameField = b.add<AwakeField>(b.view(), "nameField");
                             auto go = b.add<UIButton>(b.view(), "goButton");
                             go->setTitle("Go", UIControlState::Normal);
                             vc.goButton = go;
                             b.action<FormController>(go, "goTap:", UIControlEvents::TouchUpInside,
                                                      [](FormController& c, UIControl& s) { c.goTap(s); });
                             b.segue(go, "showDetail");
                           }};
    UIStoryboardScene detail{"detail", "DetailController", {}, {}, {}};
    UIStoryboardScene wrong{
        "wrong", "OtherController", {}, {}, [](UIStoryboardSceneBuilder& b) { b.controllerAs<FormController>(); }};
    UIStoryboard::registerStoryboard("Test", "root", {root, form, detail, wrong});
  }
  ~StoryboardTest() override { UIStoryboard::unregisterStoryboard("Test"); }
};

TEST_F(StoryboardTest, InstantiationMakesNewControllersWhoseViewsBuildOnFirstAccess) {
  auto storyboard = UIStoryboard::storyboardWithName("Test");
  auto one = std::dynamic_pointer_cast<FormController>(storyboard->instantiateViewControllerWithIdentifier("form"));
  auto two = storyboard->instantiateViewControllerWithIdentifier("form");
  ASSERT_TRUE(one);
  EXPECT_NE(one, two);
  EXPECT_FALSE(one->isViewLoaded());
  EXPECT_EQ(one->storyboard()->name(), "Test");
  EXPECT_EQ(take(), (Events{"form.awakeFromNib", "form.awakeFromNib"}));

  // Outlets are filled before viewDidLoad.
  one->view();
  EXPECT_EQ(take(), (Events{"field.awakeFromNib out", "form.viewDidLoad"}));
  auto field = one->nameField.lock();
  ASSERT_TRUE(field);
  EXPECT_EQ(one->outlet("nameField"), field);
  EXPECT_EQ(field->accessibilityIdentifier(), "nameField");
  EXPECT_EQ(field->superview(), one->view());
}

TEST_F(StoryboardTest, SeguesPrepareBeforeTheDestinationLoadsOrAppears) {
  auto nav = std::dynamic_pointer_cast<UINavigationController>(
      UIStoryboard::storyboardWithName("Test")->instantiateInitialViewController());
  auto window = UIWindow::make();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto form = std::dynamic_pointer_cast<FormController>(nav->topViewController());
  take();

  // The button's actions: its own action, then the triggered segue, asked first.
  form->nameField.lock()->setText("Ada");
  form->allowSegue = false;
  EXPECT_TRUE(form->goButton.lock()->tap());
  EXPECT_EQ(take(), (Events{"form.goTap Ada", "form.shouldPerform showDetail from go"}));
  EXPECT_EQ(nav->viewControllers().size(), 1u);

  form->allowSegue = true;
  form->goButton.lock()->tap();
  EXPECT_EQ(take(), (Events{"form.goTap Ada", "form.shouldPerform showDetail from go",
                            "form.prepareForSegue showDetail", "form.viewWillDisappear", "detail.viewDidLoad",
                            "detail.viewWillAppear to", "form.viewDidDisappear", "detail.viewDidAppear"}));
  EXPECT_EQ(nav->viewControllers().size(), 2u);

  // performSegueWithIdentifier does not ask; a modal segue presents.
  nav->popViewControllerAnimated(false);
  take();
  form->performSegueWithIdentifier("presentDetail", nullptr);
  EXPECT_EQ(take(), (Events{"form.prepareForSegue presentDetail", "form.viewWillDisappear", "detail.viewDidLoad",
                            "detail.viewWillAppear", "form.viewDidDisappear", "detail.viewDidAppear"}));
  EXPECT_TRUE(std::dynamic_pointer_cast<DetailController>(form->presentedViewController()));
}

using StoryboardDeathTest = StoryboardTest;

TEST_F(StoryboardDeathTest, UnknownNamesAndWrongClassesStopTheProgram) {
  EXPECT_DEATH(UIStoryboard::storyboardWithName("Test")->instantiateViewControllerWithIdentifier("missing"),
               "doesn't contain a view controller with identifier 'missing'");
  EXPECT_DEATH(UIStoryboard::storyboardWithName("Nope"), "Could not find a storyboard named 'Nope'");
  EXPECT_DEATH(UIStoryboard::storyboardWithName("Test")->instantiateViewControllerWithIdentifier("wrong")->view(),
               "made a .*OtherController, not a .*FormController");
  EXPECT_DEATH(UIStoryboard::storyboardWithName("Test")
                   ->instantiateViewControllerWithIdentifier("form")
                   ->performSegueWithIdentifier("nowhere", nullptr),
               "has no segue with identifier 'nowhere'");
}

}  // namespace
