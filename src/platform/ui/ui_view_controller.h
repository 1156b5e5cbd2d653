#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/geometry.h"
#include "platform/ui/ui_navigation_item.h"
#include "platform/ui/ui_responder.h"
#include "platform/ui/ui_tab_bar_item.h"

class UIView;
class UIWindow;
class UIStoryboard;
class UIStoryboardSegue;
class UINavigationController;
class UITabBarController;
class UIBarButtonItem;

enum class UIModalPresentationStyle {
  FullScreen = 0,
  PageSheet = 1,
  FormSheet = 2,
  CurrentContext = 3,
  Custom = 4,
  OverFullScreen = 5,
  OverCurrentContext = 6,
  Popover = 7,
  None = -1
};

enum class UIModalTransitionStyle { CoverVertical = 0, FlipHorizontal = 1, CrossDissolve = 2, PartialCurl = 3 };

enum class UIInterfaceOrientation {
  Unknown = 0,
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 4,
  LandscapeRight = 3
};
inline bool UIInterfaceOrientationIsLandscape(UIInterfaceOrientation o) {
  return o == UIInterfaceOrientation::LandscapeLeft || o == UIInterfaceOrientation::LandscapeRight;
}
inline bool UIInterfaceOrientationIsPortrait(UIInterfaceOrientation o) {
  return o == UIInterfaceOrientation::Portrait || o == UIInterfaceOrientation::PortraitUpsideDown;
}

// Handed to size transitions; there is no animation to coordinate.
struct UIViewControllerTransitionCoordinator {};

// Where a popover points (iPad presentations in the popover style).
class UIPopoverPresentationController {
 public:
  std::shared_ptr<UIBarButtonItem> barButtonItem() const { return barButtonItem_.lock(); }
  void setBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) { barButtonItem_ = item; }
  std::shared_ptr<UIView> sourceView() const { return sourceView_.lock(); }
  void setSourceView(const std::shared_ptr<UIView>& view) { sourceView_ = view; }
  CGRect sourceRect() const { return sourceRect_; }
  void setSourceRect(CGRect rect) { sourceRect_ = rect; }

 private:
  std::weak_ptr<UIBarButtonItem> barButtonItem_;
  std::weak_ptr<UIView> sourceView_;
  CGRect sourceRect_;
};

// A presentation the toolkit refused, as the platform's console warning tells it.
struct UIPresentationRefusal {
  std::string presenter;  // class of the controller asked to present
  std::string presented;  // class of the controller it was asked to present
  std::string message;    // the warning printed on the console
};

// One screen's controller.
//
// The view loads lazily, on the first view() (a window, a push, a presentation, a tab selection
// or a test): loadView, the storyboard scene's builder when the controller came from a
// storyboard, then viewDidLoad, once. Inputs set after creation and before that are seen by
// viewDidLoad.
//
// Appearance: the controller that becomes visible gets viewWillAppear / viewDidAppear, the one
// that stops being visible viewWillDisappear / viewDidDisappear, on window display, push, pop,
// presentation, dismissal and tab selection; containers forward them to the children they show.
// Transitions complete at once; completion closures run afterwards, on the main run loop.
class UIViewController : public UIResponder {
 public:
  UIViewController();
  // The storyboard's constructor.
  explicit UIViewController(const NSCoder&);
  ~UIViewController() override;
  UIViewController(const UIViewController&) = delete;
  UIViewController& operator=(const UIViewController&) = delete;

  // --- View -----------------------------------------------------------------------------------
  // Loads the view when needed.
  std::shared_ptr<UIView> view();
  std::shared_ptr<UIView> viewIfLoaded() const { return view_; }
  bool isViewLoaded() const { return view_ != nullptr; }
  void loadViewIfNeeded() { view(); }
  void setView(std::shared_ptr<UIView> view);

  // Makes the root view (a plain view the size of the screen). Overrides build their own.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}
  virtual void viewWillLayoutSubviews() {}
  virtual void viewDidLayoutSubviews() {}
  virtual void viewWillTransitionToSize(CGSize /*size*/, const UIViewControllerTransitionCoordinator& /*coordinator*/) {
  }
  virtual void willRotateToInterfaceOrientation(UIInterfaceOrientation /*orientation*/, double /*duration*/) {}
  virtual void didRotateFromInterfaceOrientation(UIInterfaceOrientation /*fromOrientation*/) {}
  // Called once after a storyboard made the controller.
  virtual void awakeFromNib() {}

  // The edge below the bars at the top of the screen, for constraints (a view, as on the
  // platform; made on first use and kept by the controller).
  std::shared_ptr<UIView> topLayoutGuide();

  // One layout pass of the loaded view: viewWillLayoutSubviews, the views' own layout,
  // viewDidLayoutSubviews; then the same for the children on screen.
  void layoutPass();

  // --- Appearance -----------------------------------------------------------------------------
  enum class AppearanceState { Disappeared, Appearing, Appeared, Disappearing };
  // Starts (or, with end, finishes) the controller's appearance or disappearance and forwards it
  // to the children it shows. A call that would repeat the current state does nothing, so no
  // controller ever hears viewWillAppear twice in a row.
  void beginAppearanceTransition(bool isAppearing, bool animated);
  void endAppearanceTransition();
  AppearanceState appearanceState() const { return appearanceState_; }
  // Appearing or appeared.
  bool isOnScreen() const;

  // --- Items and titles -----------------------------------------------------------------------
  const std::optional<std::string>& title() const { return title_; }
  // Also titles the navigation item and the tab bar item.
  void setTitle(std::optional<std::string> title);
  const std::shared_ptr<UINavigationItem>& navigationItem() const { return navigationItem_; }
  const std::shared_ptr<UITabBarItem>& tabBarItem() const { return tabBarItem_; }
  void setTabBarItem(std::shared_ptr<UITabBarItem> item);
  bool hidesBottomBarWhenPushed() const { return hidesBottomBarWhenPushed_; }
  void setHidesBottomBarWhenPushed(bool hides) { hidesBottomBarWhenPushed_ = hides; }

  // --- Containment ----------------------------------------------------------------------------
  std::shared_ptr<UIViewController> parentViewController() const;
  const std::vector<std::shared_ptr<UIViewController>>& childViewControllers() const { return children_; }
  // Adding a child that is already ours changes nothing; a child of another parent moves. The
  // child hears willMoveToParentViewController; the caller adds its view and then calls the
  // child's didMoveToParentViewController. A child joining a parent on screen appears once its
  // view is in the window (checked on the next turn of the main run loop).
  void addChildViewController(const std::shared_ptr<UIViewController>& child);
  // The caller calls willMoveToParentViewController(nullptr) first; the controller hears
  // didMoveToParentViewController(nullptr). A child on screen disappears.
  void removeFromParentViewController();
  virtual void willMoveToParentViewController(const std::shared_ptr<UIViewController>& /*parent*/) {}
  virtual void didMoveToParentViewController(const std::shared_ptr<UIViewController>& /*parent*/) {}
  // The nearest ancestor of that kind.
  std::shared_ptr<UINavigationController> navigationController() const;
  std::shared_ptr<UITabBarController> tabBarController() const;

  // --- Presentation ---------------------------------------------------------------------------
  // Presents `controller` over this controller's presentation context (the top of its parent
  // chain). Refused, with a console warning and a record in presentationRefusals(), when this
  // controller's view is not in a window, when the context is already presenting, or when the
  // controller is already presented or has a parent. Full-screen styles hide the presenter (it
  // disappears); alerts and the "over" styles leave it on screen.
  void presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                             std::function<void()> completion = {});
  // On a presenter: removes everything it presents (the whole chain above it). On a presented
  // controller that presents nothing: its presenter dismisses it. The completion runs afterwards.
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
  // The controller presented over this one's presentation context, if any.
  std::shared_ptr<UIViewController> presentedViewController() const;
  // The controller that presented this one (or this one's context), if any.
  std::shared_ptr<UIViewController> presentingViewController() const;
  UIModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
  void setModalPresentationStyle(UIModalPresentationStyle style) { modalPresentationStyle_ = style; }
  UIModalTransitionStyle modalTransitionStyle() const { return modalTransitionStyle_; }
  void setModalTransitionStyle(UIModalTransitionStyle style) { modalTransitionStyle_ = style; }
  // Non-null while the style is Popover.
  std::shared_ptr<UIPopoverPresentationController> popoverPresentationController();
  bool isBeingPresented() const { return beingPresented_; }
  bool isBeingDismissed() const { return beingDismissed_; }
  // Set around the appearance calls while a navigation controller pushes (to) or pops (from) it.
  bool isMovingToParentViewController() const { return movingToParent_; }
  bool isMovingFromParentViewController() const { return movingFromParent_; }

  static const std::vector<UIPresentationRefusal>& presentationRefusals();
  static void clearPresentationRefusals();

  // --- Storyboards and segues -----------------------------------------------------------------
  std::shared_ptr<UIStoryboard> storyboard() const { return storyboard_; }
  // The scene this controller was made from ("" when made in code).
  const std::string& storyboardIdentifier() const { return sceneIdentifier_; }
  // Makes the destination of the scene's segue, calls prepareForSegue, then shows it (push on
  // the navigation controller, else present) or presents it, as the segue's kind says. An
  // identifier the scene does not have stops the program.
  void performSegueWithIdentifier(const std::string& identifier, const std::shared_ptr<void>& sender);
  // Asked before a segue that a control triggers (not before performSegueWithIdentifier).
  virtual bool shouldPerformSegueWithIdentifier(const std::string& /*identifier*/,
                                                const std::shared_ptr<void>& /*sender*/) {
    return true;
  }
  virtual void prepareForSegue(const UIStoryboardSegue& /*segue*/, const std::shared_ptr<void>& /*sender*/) {}

  // Views the scene connected to outlets, by outlet name (the console driver addresses them).
  void setOutlet(const std::string& name, const std::shared_ptr<UIView>& view);
  std::shared_ptr<UIView> outlet(const std::string& name) const;
  std::vector<std::string> outletNames() const;

  // A short class name for messages ("LoginViewController").
  std::string className() const;

  // The children that are on screen while this controller is: all of them here; containers
  // answer the one they show.
  virtual std::vector<std::shared_ptr<UIViewController>> childViewControllersOnScreen() const { return children_; }

  // --- Responder chain ------------------------------------------------------------------------
  std::shared_ptr<UIResponder> nextResponder() const override;

 protected:
  // Whether presenting `controller` hides this one (full-screen styles).
  static bool hidesPresenter(const UIViewController& controller);

  // For containers that keep their own order of children.
  void setChildViewControllersStorage(std::vector<std::shared_ptr<UIViewController>> children);
  // A container replacing its children: `children` without repeats, and who leaves and who joins.
  // begin tells them willMoveToParentViewController (taking joiners from their old parents), end
  // tells them didMoveToParentViewController; the container stores the children in between.
  struct ChildrenChange {
    std::vector<std::shared_ptr<UIViewController>> children;
    std::vector<std::shared_ptr<UIViewController>> removed;
    std::vector<std::shared_ptr<UIViewController>> added;
  };
  // Runs `change` between `from` disappearing and `to` appearing, when the container is on screen
  // and the shown child changes; otherwise just runs it.
  void transitionBetween(const std::shared_ptr<UIViewController>& from, const std::shared_ptr<UIViewController>& to,
                         bool animated, const std::function<void()>& change);
  ChildrenChange beginChildrenChange(std::vector<std::shared_ptr<UIViewController>> children);
  void endChildrenChange(const ChildrenChange& change);
  void adoptChild(const std::shared_ptr<UIViewController>& child);
  void releaseChild(const std::shared_ptr<UIViewController>& child);

 private:
  friend class UIStoryboard;
  friend class UIWindow;
  friend class UINavigationController;

  std::shared_ptr<UIViewController> presentationContext();
  std::shared_ptr<const UIViewController> presentationContext() const;
  void refusePresentation(const std::shared_ptr<UIViewController>& controller, const std::string& message);
  void dismissChainOf(const std::shared_ptr<UIViewController>& presenter, bool animated);
  void postCompletion(std::function<void()> completion);
  void appearWhenInWindow(const std::shared_ptr<UIViewController>& child);

  std::shared_ptr<UIView> view_;
  std::shared_ptr<UIView> topLayoutGuide_;
  bool loadingView_ = false;
  AppearanceState appearanceState_ = AppearanceState::Disappeared;
  bool transitionAnimated_ = false;

  std::optional<std::string> title_;
  std::shared_ptr<UINavigationItem> navigationItem_ = std::make_shared<UINavigationItem>();
  std::shared_ptr<UITabBarItem> tabBarItem_ = std::make_shared<UITabBarItem>();
  bool hidesBottomBarWhenPushed_ = false;

  // The parent owns its children; the back-pointer is cleared when the parent lets go.
  UIViewController* parent_ = nullptr;
  std::vector<std::shared_ptr<UIViewController>> children_;

  std::shared_ptr<UIViewController> presented_;
  std::weak_ptr<UIViewController> presenting_;
  UIModalPresentationStyle modalPresentationStyle_ = UIModalPresentationStyle::FullScreen;
  UIModalTransitionStyle modalTransitionStyle_ = UIModalTransitionStyle::CoverVertical;
  std::shared_ptr<UIPopoverPresentationController> popover_;
  bool beingPresented_ = false;
  bool beingDismissed_ = false;
  bool movingToParent_ = false;
  bool movingFromParent_ = false;

  std::shared_ptr<UIStoryboard> storyboard_;
  std::string sceneIdentifier_;
  std::function<void(UIViewController&)> sceneBuilder_;
  std::map<std::string, std::weak_ptr<UIView>> outlets_;
};

// Class name of a controller type for messages ("UINavigationController").
std::string demangledClassName(const std::type_info& type);
