#include "platform/ui/ui_storyboard.h"

#include <map>
#include <mutex>

#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_tab_bar_controller.h"

struct UIStoryboard::Definition {
  std::string name;
  std::optional<std::string> initialScene;
  std::map<std::string, UIStoryboardScene> scenes;
};

namespace {

std::map<std::string, std::shared_ptr<const UIStoryboard::Definition>>& registry() {
  static std::map<std::string, std::shared_ptr<const UIStoryboard::Definition>> storyboards;
  return storyboards;
}

// The toolkit's own controller classes, for scenes that name them.
void registerToolkitClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    auto& classes = ClassRegistry::shared();
    if (!classes.factory<UIViewController>("UIViewController"))
      registerViewControllerClass<UIViewController>("UIViewController");
    if (!classes.factory<UIViewController>("UINavigationController")) {
      registerViewControllerClass<UINavigationController>("UINavigationController");
    }
    if (!classes.factory<UIViewController>("UITabBarController")) {
      registerViewControllerClass<UITabBarController>("UITabBarController");
    }
  });
}

// A segue that a control starts asks its controller first.
void performTriggeredSegue(const std::weak_ptr<UIViewController>& weak, const std::string& identifier,
                           const std::shared_ptr<void>& sender) {
  auto vc = weak.lock();
  if (vc && vc->shouldPerformSegueWithIdentifier(identifier, sender))
    vc->performSegueWithIdentifier(identifier, sender);
}

}  // namespace

void UIStoryboard::registerStoryboard(std::string name, std::optional<std::string> initialScene,
                                      std::vector<UIStoryboardScene> scenes) {
  auto definition = std::make_shared<Definition>();
  definition->name = name;
  definition->initialScene = std::move(initialScene);
  for (auto& scene : scenes) {
    auto identifier = scene.identifier;
    if (!definition->scenes.emplace(identifier, std::move(scene)).second) {
      fatalError("Storyboard '" + name + "' has two scenes with identifier '" + identifier + "'");
    }
  }
  registry()[std::move(name)] = std::move(definition);
}

void UIStoryboard::unregisterStoryboard(const std::string& name) { registry().erase(name); }

bool UIStoryboard::isStoryboardRegistered(const std::string& name) { return registry().count(name) > 0; }

std::shared_ptr<UIStoryboard> UIStoryboard::storyboardWithName(const std::string& name) {
  auto it = registry().find(name);
  if (it == registry().end()) fatalError("Could not find a storyboard named '" + name + "'");
  return std::make_shared<UIStoryboard>(it->second);
}

const std::string& UIStoryboard::name() const { return definition_->name; }

std::shared_ptr<UIViewController> UIStoryboard::instantiateInitialViewController() {
  if (!definition_->initialScene) return nullptr;
  return instantiateViewControllerWithIdentifier(*definition_->initialScene);
}

std::shared_ptr<UIViewController> UIStoryboard::instantiateViewControllerWithIdentifier(const std::string& identifier) {
  auto it = definition_->scenes.find(identifier);
  if (it == definition_->scenes.end()) {
    fatalError("Storyboard (" + definition_->name + ") doesn't contain a view controller with identifier '" +
               identifier + "'");
  }
  return instantiate(it->second);
}

std::optional<UIStoryboardSegueTemplate> UIStoryboard::segueTemplate(const std::string& sceneIdentifier,
                                                                     const std::string& segueIdentifier) const {
  auto it = definition_->scenes.find(sceneIdentifier);
  if (it == definition_->scenes.end()) return std::nullopt;
  for (const auto& segue : it->second.segues) {
    if (segue.identifier == segueIdentifier) return segue;
  }
  return std::nullopt;
}

std::shared_ptr<UIViewController> UIStoryboard::instantiate(const UIStoryboardScene& scene) {
  registerToolkitClasses();
  auto factory = ClassRegistry::shared().factory<UIViewController>(scene.className);
  if (!factory) fatalError("Unknown class " + scene.className + " in storyboard '" + definition_->name + "'");
  auto controller = factory();
  auto self = shared_from_this();
  controller->storyboard_ = self;
  controller->sceneIdentifier_ = scene.identifier;
  if (scene.build) {
    auto build = scene.build;
    controller->sceneBuilder_ = [build, self](UIViewController& c) {
      UIStoryboardSceneBuilder builder(c, *self);
      build(builder);
      builder.finish();
    };
  }
  if (!scene.relationships.empty()) {
    std::vector<std::shared_ptr<UIViewController>> contained;
    for (const auto& id : scene.relationships) contained.push_back(instantiateViewControllerWithIdentifier(id));
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(controller)) {
      nav->setViewControllers(std::move(contained));
    } else if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(controller)) {
      tabs->setViewControllers(std::move(contained));
    } else {
      fatalError("Scene '" + scene.identifier + "' of storyboard '" + definition_->name +
                 "' contains other scenes but is no container");
    }
  }
  controller->awakeFromNib();
  return controller;
}

void UIStoryboardSceneBuilder::segue(const std::shared_ptr<UIControl>& control, const std::string& identifier) {
  std::weak_ptr<UIViewController> weak = controller_.sharedAs<UIViewController>();
  control->addTarget(weak.lock(), "performSegue:" + identifier, UIControlEvents::TouchUpInside,
                     [weak, identifier](UIControl& sender, const UIEvent*) {
                       performTriggeredSegue(weak, identifier, sender.shared_from_this());
                     });
}

void UIStoryboardSceneBuilder::segue(const std::shared_ptr<UIBarButtonItem>& item, const std::string& identifier) {
  std::weak_ptr<UIViewController> weak = controller_.sharedAs<UIViewController>();
  item->setTarget(weak.lock(), "performSegue:" + identifier, [weak, identifier](UIBarButtonItem& sender) {
    performTriggeredSegue(weak, identifier, sender.shared_from_this());
  });
}

void UIStoryboardSceneBuilder::finish() {
  auto views = std::move(awaking_);
  awaking_.clear();
  for (const auto& v : views) v->awakeFromNib();
}

void UIStoryboardSceneBuilder::wrongClass(const std::string& expected) {
  fatalError("Scene '" + controller_.storyboardIdentifier() + "' made a " + controller_.className() + ", not a " +
             expected);
}
