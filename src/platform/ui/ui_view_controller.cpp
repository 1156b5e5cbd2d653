#include "platform/ui/ui_view_controller.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/fatal_error.h"
#include "platform/foundation/run_loop.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_storyboard_segue.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_view.h"
#include "platform/ui/ui_window.h"

namespace {

std::vector<UIPresentationRefusal>& refusals() {
  static std::vector<UIPresentationRefusal> list;
  return list;
}

std::string angled(const UIViewController& c) { return "<" + c.className() + ">"; }

}  // namespace

std::string demangledClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

UIViewController::UIViewController() = default;

UIViewController::UIViewController(const NSCoder&) : UIViewController() {}

UIViewController::~UIViewController() {
  for (auto& child : children_) {
    if (child->parent_ == this) child->parent_ = nullptr;
  }
}

std::string UIViewController::className() const { return demangledClassName(typeid(*this)); }

// --- View --------------------------------------------------------------------------------------

std::shared_ptr<UIView> UIViewController::view() {
  if (view_ || loadingView_) return view_;
  loadingView_ = true;
  loadView();
  if (!view_) setView(UIView::make(UIScreen::mainScreen()->bounds()));
  if (sceneBuilder_) {
    auto build = sceneBuilder_;
    build(*this);
  }
  loadingView_ = false;
  viewDidLoad();
  return view_;
}

void UIViewController::setView(std::shared_ptr<UIView> view) {
  if (view_) view_->setOwningResponder({});
  view_ = std::move(view);
  if (view_) view_->setOwningResponder(weak_from_this());
}

void UIViewController::loadView() { setView(UIView::make(UIScreen::mainScreen()->bounds())); }

std::shared_ptr<UIView> UIViewController::topLayoutGuide() {
  if (!topLayoutGuide_) topLayoutGuide_ = UIView::make();
  return topLayoutGuide_;
}

void UIViewController::layoutPass() {
  if (!view_) return;
  viewWillLayoutSubviews();
  view_->layoutIfNeeded();
  viewDidLayoutSubviews();
  for (const auto& child : childViewControllersOnScreen()) child->layoutPass();
}

// --- Appearance --------------------------------------------------------------------------------

void UIViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
  if (isAppearing) {
    if (isOnScreen()) return;
    view();
    appearanceState_ = AppearanceState::Appearing;
    transitionAnimated_ = animated;
    viewWillAppear(animated);
  } else {
    if (!isOnScreen()) return;
    appearanceState_ = AppearanceState::Disappearing;
    transitionAnimated_ = animated;
    viewWillDisappear(animated);
  }
  for (const auto& child : childViewControllersOnScreen()) child->beginAppearanceTransition(isAppearing, animated);
}

void UIViewController::endAppearanceTransition() {
  if (appearanceState_ == AppearanceState::Appearing) {
    appearanceState_ = AppearanceState::Appeared;
    if (view_) {
      viewWillLayoutSubviews();
      view_->layoutIfNeeded();
      viewDidLayoutSubviews();
    }
    viewDidAppear(transitionAnimated_);
  } else if (appearanceState_ == AppearanceState::Disappearing) {
    appearanceState_ = AppearanceState::Disappeared;
    viewDidDisappear(transitionAnimated_);
  } else {
    return;
  }
  for (const auto& child : childViewControllersOnScreen()) child->endAppearanceTransition();
}

bool UIViewController::isOnScreen() const {
  return appearanceState_ == AppearanceState::Appearing || appearanceState_ == AppearanceState::Appeared;
}

// --- Items -------------------------------------------------------------------------------------

void UIViewController::setTitle(std::optional<std::string> title) {
  title_ = title;
  navigationItem_->setTitle(title);
  tabBarItem_->setTitle(std::move(title));
}

void UIViewController::setTabBarItem(std::shared_ptr<UITabBarItem> item) {
  tabBarItem_ = item ? std::move(item) : std::make_shared<UITabBarItem>();
  if (auto* tabs = dynamic_cast<UITabBarController*>(parent_)) tabs->updateTabBarItems();
}

// --- Containment -------------------------------------------------------------------------------

std::shared_ptr<UIViewController> UIViewController::parentViewController() const {
  return parent_ ? parent_->sharedAs<UIViewController>() : nullptr;
}

void UIViewController::adoptChild(const std::shared_ptr<UIViewController>& child) {
  children_.push_back(child);
  child->parent_ = this;
}

void UIViewController::releaseChild(const std::shared_ptr<UIViewController>& child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  (*it)->parent_ = nullptr;
  children_.erase(it);
}

void UIViewController::setChildViewControllersStorage(std::vector<std::shared_ptr<UIViewController>> children) {
  for (auto& old : children_) {
    if (old->parent_ == this) old->parent_ = nullptr;
  }
  children_ = std::move(children);
  for (auto& child : children_) child->parent_ = this;
}

void UIViewController::transitionBetween(const std::shared_ptr<UIViewController>& from,
                                         const std::shared_ptr<UIViewController>& to, bool animated,
                                         const std::function<void()>& change) {
  const bool transition = isOnScreen() && from != to;
  if (transition) {
    if (from) from->beginAppearanceTransition(false, animated);
    if (to) to->beginAppearanceTransition(true, animated);
  }
  change();
  if (transition) {
    if (from) from->endAppearanceTransition();
    if (to) to->endAppearanceTransition();
  }
}

UIViewController::ChildrenChange UIViewController::beginChildrenChange(
    std::vector<std::shared_ptr<UIViewController>> children) {
  auto contains = [](const std::vector<std::shared_ptr<UIViewController>>& list,
                     const std::shared_ptr<UIViewController>& c) {
    return std::find(list.begin(), list.end(), c) != list.end();
  };
  ChildrenChange change;
  for (auto& c : children) {
    if (c && c.get() != this && !contains(change.children, c)) change.children.push_back(std::move(c));
  }
  for (const auto& c : children_) {
    if (!contains(change.children, c)) change.removed.push_back(c);
  }
  for (const auto& c : change.children) {
    if (!contains(children_, c)) change.added.push_back(c);
  }
  auto self = sharedAs<UIViewController>();
  for (const auto& c : change.removed) c->willMoveToParentViewController(nullptr);
  for (const auto& c : change.added) {
    if (c->parent_) {
      c->willMoveToParentViewController(nullptr);
      c->removeFromParentViewController();
    }
    c->willMoveToParentViewController(self);
  }
  return change;
}

void UIViewController::endChildrenChange(const ChildrenChange& change) {
  auto self = sharedAs<UIViewController>();
  for (const auto& c : change.removed) c->didMoveToParentViewController(nullptr);
  for (const auto& c : change.added) c->didMoveToParentViewController(self);
}

void UIViewController::addChildViewController(const std::shared_ptr<UIViewController>& child) {
  if (!child || child.get() == this || child->parent_ == this) return;
  if (child->parent_) {
    child->willMoveToParentViewController(nullptr);
    child->removeFromParentViewController();
  }
  child->willMoveToParentViewController(sharedAs<UIViewController>());
  adoptChild(child);
  if (isOnScreen()) appearWhenInWindow(child);
}

void UIViewController::appearWhenInWindow(const std::shared_ptr<UIViewController>& child) {
  std::weak_ptr<UIViewController> weakChild = child;
  std::weak_ptr<UIViewController> weakParent = sharedAs<UIViewController>();
  RunLoop::main().post([weakChild, weakParent] {
    auto shownChild = weakChild.lock();
    auto parent = weakParent.lock();
    if (!shownChild || !parent || shownChild->parent_ != parent.get() || !parent->isOnScreen()) return;
    auto shown = parent->childViewControllersOnScreen();
    if (std::find(shown.begin(), shown.end(), shownChild) == shown.end()) return;
    if (!shownChild->isViewLoaded() || !shownChild->view_->window()) return;
    shownChild->beginAppearanceTransition(true, false);
    shownChild->endAppearanceTransition();
  });
}

void UIViewController::removeFromParentViewController() {
  if (!parent_) return;
  auto self = sharedAs<UIViewController>();
  parent_->releaseChild(self);
  if (isOnScreen()) {
    beginAppearanceTransition(false, false);
    endAppearanceTransition();
  }
  didMoveToParentViewController(nullptr);
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const {
  for (auto* p = parent_; p; p = p->parent_) {
    if (dynamic_cast<UINavigationController*>(p)) return p->sharedAs<UINavigationController>();
  }
  return nullptr;
}

std::shared_ptr<UITabBarController> UIViewController::tabBarController() const {
  for (auto* p = parent_; p; p = p->parent_) {
    if (dynamic_cast<UITabBarController*>(p)) return p->sharedAs<UITabBarController>();
  }
  return nullptr;
}

// --- Presentation ------------------------------------------------------------------------------

std::shared_ptr<UIViewController> UIViewController::presentationContext() {
  UIViewController* top = this;
  while (top->parent_) top = top->parent_;
  return top->sharedAs<UIViewController>();
}

std::shared_ptr<const UIViewController> UIViewController::presentationContext() const {
  const UIViewController* top = this;
  while (top->parent_) top = top->parent_;
  return top->sharedAs<UIViewController>();
}

std::shared_ptr<UIViewController> UIViewController::presentedViewController() const {
  return presentationContext()->presented_;
}

std::shared_ptr<UIViewController> UIViewController::presentingViewController() const {
  return presentationContext()->presenting_.lock();
}

bool UIViewController::hidesPresenter(const UIViewController& controller) {
  switch (controller.modalPresentationStyle()) {
    case UIModalPresentationStyle::FullScreen:
    case UIModalPresentationStyle::PageSheet:
    case UIModalPresentationStyle::FormSheet:
    case UIModalPresentationStyle::CurrentContext: return true;
    default: return false;
  }
}

std::shared_ptr<UIPopoverPresentationController> UIViewController::popoverPresentationController() {
  if (modalPresentationStyle_ != UIModalPresentationStyle::Popover) return nullptr;
  if (!popover_) popover_ = std::make_shared<UIPopoverPresentationController>();
  return popover_;
}

const std::vector<UIPresentationRefusal>& UIViewController::presentationRefusals() { return refusals(); }

void UIViewController::clearPresentationRefusals() { refusals().clear(); }

void UIViewController::refusePresentation(const std::shared_ptr<UIViewController>& controller,
                                          const std::string& message) {
  refusals().push_back({className(), controller->className(), message});
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
}

void UIViewController::postCompletion(std::function<void()> completion) {
  if (completion) RunLoop::main().post(std::move(completion));
}

void UIViewController::presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                                             std::function<void()> completion) {
  if (!controller) return;
  if (controller.get() == this || controller->parent_ || controller->presenting_.lock()) {
    refusePresentation(controller, "Warning: Attempt to present " + angled(*controller) + " on " + angled(*this) +
                                       ", which is already presented or has a parent");
    return;
  }
  if (!view_ || !view_->window()) {
    refusePresentation(controller, "Warning: Attempt to present " + angled(*controller) + " on " + angled(*this) +
                                       " whose view is not in the window hierarchy!");
    return;
  }
  auto presenter = presentationContext();
  if (presenter->presented_) {
    refusePresentation(controller, "Warning: Attempt to present " + angled(*controller) + " on " + angled(*this) +
                                       " which is already presenting " + angled(*presenter->presented_));
    return;
  }
  auto window = view_->window();
  presenter->presented_ = controller;
  controller->presenting_ = presenter;
  const bool hides = hidesPresenter(*controller);
  const bool visible = presenter->isOnScreen();
  controller->beingPresented_ = true;
  if (visible && hides) presenter->beginAppearanceTransition(false, animated);
  if (visible) controller->beginAppearanceTransition(true, animated);
  auto shown = controller->view();
  shown->setFrame(window->bounds());
  window->addSubview(shown);
  if (hides && presenter->view_) presenter->view_->removeFromSuperview();
  if (visible && hides) presenter->endAppearanceTransition();
  if (visible) controller->endAppearanceTransition();
  controller->beingPresented_ = false;
  postCompletion(std::move(completion));
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
  auto context = presentationContext();
  auto presenter = context->presented_ ? context : context->presenting_.lock();
  if (presenter) dismissChainOf(presenter, animated);
  postCompletion(std::move(completion));
}

void UIViewController::dismissChainOf(const std::shared_ptr<UIViewController>& presenter, bool animated) {
  std::vector<std::shared_ptr<UIViewController>> chain;
  for (auto c = presenter->presented_; c; c = c->presented_) chain.push_back(c);
  if (chain.empty()) return;

  std::shared_ptr<UIWindow> window;
  bool hidden = false;
  bool wasVisible = false;
  for (const auto& c : chain) {
    if (!window && c->view_) window = c->view_->window();
    hidden = hidden || hidesPresenter(*c);
    wasVisible = wasVisible || c->isOnScreen();
    c->beingDismissed_ = true;
  }
  if (!window && presenter->view_) window = presenter->view_->window();

  for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->beginAppearanceTransition(false, animated);
  const bool reveal = hidden && wasVisible;
  if (reveal) presenter->beginAppearanceTransition(true, animated);

  if (hidden && window && presenter->view_ && !presenter->view_->superview()) {
    // Back where it was: beneath the first view of the chain still in the window.
    const auto& subviews = window->subviews();
    std::size_t index = subviews.size();
    for (const auto& c : chain) {
      if (!c->view_) continue;
      auto it = std::find(subviews.begin(), subviews.end(), c->view_);
      if (it != subviews.end()) {
        index = static_cast<std::size_t>(it - subviews.begin());
        break;
      }
    }
    presenter->view_->setFrame(window->bounds());
    window->insertSubview(presenter->view_, index);
  }
  for (const auto& c : chain) {
    if (c->view_) c->view_->removeFromSuperview();
  }
  presenter->presented_ = nullptr;
  for (const auto& c : chain) {
    c->presented_ = nullptr;
    c->presenting_.reset();
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->endAppearanceTransition();
  if (reveal) presenter->endAppearanceTransition();
  for (const auto& c : chain) c->beingDismissed_ = false;
}

// --- Storyboards and segues --------------------------------------------------------------------

void UIViewController::performSegueWithIdentifier(const std::string& identifier, const std::shared_ptr<void>& sender) {
  auto segueTemplate = storyboard_ ? storyboard_->segueTemplate(sceneIdentifier_, identifier) : std::nullopt;
  if (!segueTemplate) {
    fatalError("Receiver (" + angled(*this) + ") has no segue with identifier '" + identifier + "'");
  }
  auto destination = storyboard_->instantiateViewControllerWithIdentifier(segueTemplate->destination);
  auto self = sharedAs<UIViewController>();
  UIStoryboardSegue segue(identifier, self, destination);
  prepareForSegue(segue, sender);
  switch (segueTemplate->kind) {
    case UIStoryboardSegueKind::Show:
      if (auto nav = navigationController()) {
        nav->pushViewController(destination, true);
        return;
      }
      presentViewController(destination, true);
      return;
    case UIStoryboardSegueKind::Present: presentViewController(destination, true); return;
  }
}

void UIViewController::setOutlet(const std::string& name, const std::shared_ptr<UIView>& view) {
  outlets_[name] = view;
  if (view && view->accessibilityIdentifier().empty()) view->setAccessibilityIdentifier(name);
}

std::shared_ptr<UIView> UIViewController::outlet(const std::string& name) const {
  auto it = outlets_.find(name);
  return it == outlets_.end() ? nullptr : it->second.lock();
}

std::vector<std::string> UIViewController::outletNames() const {
  std::vector<std::string> names;
  for (const auto& [name, view] : outlets_) names.push_back(name);
  return names;
}

std::shared_ptr<UIResponder> UIViewController::nextResponder() const {
  if (view_) {
    if (auto super = view_->superview()) return super;
  }
  return parent_ ? parent_->sharedAs<UIViewController>() : nullptr;
}
