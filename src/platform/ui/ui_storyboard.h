#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/foundation/class_registry.h"
#include "platform/foundation/fatal_error.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_control.h"
#include "platform/ui/ui_view_controller.h"

class UIStoryboard;
class UIStoryboardSceneBuilder;

enum class UIStoryboardSegueKind {
  Show,     // push on the source's navigation controller, else present
  Present,  // present modally over the source
};

struct UIStoryboardSegueTemplate {
  std::string identifier;
  std::string destination;  // scene identifier
  UIStoryboardSegueKind kind = UIStoryboardSegueKind::Show;
};

// One scene: the controller's class (registered with registerViewControllerClass), the scenes it
// contains from the start (a navigation controller's root, a tab bar controller's tabs), its
// segues, and the builder that makes its views when the view loads.
struct UIStoryboardScene {
  std::string identifier;
  std::string className;
  std::vector<std::string> relationships;
  std::vector<UIStoryboardSegueTemplate> segues;
  std::function<void(UIStoryboardSceneBuilder&)> build;
};

// A storyboard written in code and registered by name. Each instantiation makes a new controller
// (its view not loaded); an unknown storyboard, scene or class stops the program.
class UIStoryboard : public std::enable_shared_from_this<UIStoryboard> {
 public:
  // Replaces a storyboard of the same name.
  static void registerStoryboard(std::string name, std::optional<std::string> initialScene,
                                 std::vector<UIStoryboardScene> scenes);
  static void unregisterStoryboard(const std::string& name);
  static bool isStoryboardRegistered(const std::string& name);
  static std::shared_ptr<UIStoryboard> storyboardWithName(const std::string& name);

  const std::string& name() const;
  // Nothing when the storyboard has no initial scene.
  std::shared_ptr<UIViewController> instantiateInitialViewController();
  std::shared_ptr<UIViewController> instantiateViewControllerWithIdentifier(const std::string& identifier);
  std::optional<UIStoryboardSegueTemplate> segueTemplate(const std::string& sceneIdentifier,
                                                         const std::string& segueIdentifier) const;

  struct Definition;
  explicit UIStoryboard(std::shared_ptr<const Definition> definition) : definition_(std::move(definition)) {}

 private:
  std::shared_ptr<UIViewController> instantiate(const UIStoryboardScene& scene);
  std::shared_ptr<const Definition> definition_;
};

// Registers T under `name` for storyboards, made through its storyboard constructor when it has one.
template <class T>
void registerViewControllerClass(const std::string& name) {
  static_assert(std::is_base_of_v<UIViewController, T>);
  ClassRegistry::shared().registerClass<UIViewController>(
      name, []() -> std::shared_ptr<UIViewController> { return makeFromArchive<T>(); });
}

// What a scene builder works with while the controller's view loads: the controller, its root
// view, and helpers that make views from the archive, connect outlets, wire actions by name and
// segue triggers. Views made here get awakeFromNib once the builder is done.
class UIStoryboardSceneBuilder {
 public:
  UIStoryboardSceneBuilder(UIViewController& controller, UIStoryboard& storyboard)
      : controller_(controller), storyboard_(storyboard) {}

  UIViewController& controller() { return controller_; }
  UIStoryboard& storyboard() { return storyboard_; }
  // The controller as the scene's class; another class stops the program.
  template <class T>
  T& controllerAs() {
    auto* typed = dynamic_cast<T*>(&controller_);
    if (!typed) wrongClass(demangledClassName(typeid(T)));
    return *typed;
  }
  std::shared_ptr<UIView> view() { return controller_.view(); }

  // A view of class V made through its storyboard constructor, added to `parent`.
  template <class V>
  std::shared_ptr<V> add(const std::shared_ptr<UIView>& parent, CGRect frame = {}) {
    auto v = makeFromArchive<V>();
    v->setFrame(frame);
    if (parent) parent->addSubview(v);
    awaking_.push_back(v);
    return v;
  }
  // The same, connected to the outlet `name`.
  template <class V>
  std::shared_ptr<V> add(const std::shared_ptr<UIView>& parent, const std::string& outletName, CGRect frame = {}) {
    auto v = add<V>(parent, frame);
    outlet(outletName, v);
    return v;
  }
  // Records the outlet on the controller (the console driver finds the view by that name).
  void outlet(const std::string& name, const std::shared_ptr<UIView>& view) { controller_.setOutlet(name, view); }

  // Sends `events` of `control` to the controller's action `name`; the controller is held weakly.
  template <class VC>
  void action(const std::shared_ptr<UIControl>& control, const std::string& name, UIControlEvents events,
              std::type_identity_t<std::function<void(VC&, UIControl&)>> method) {
    auto target = controllerAs<VC>().template sharedAs<VC>();
    std::weak_ptr<VC> weak = target;
    control->addTarget(target, name, events, [weak, method](UIControl& sender, const UIEvent*) {
      if (auto vc = weak.lock()) method(*vc, sender);
    });
  }
  template <class VC>
  void action(const std::shared_ptr<UIBarButtonItem>& item, const std::string& name,
              std::type_identity_t<std::function<void(VC&, UIBarButtonItem&)>> method) {
    auto target = controllerAs<VC>().template sharedAs<VC>();
    std::weak_ptr<VC> weak = target;
    item->setTarget(target, name, [weak, method](UIBarButtonItem& sender) {
      if (auto vc = weak.lock()) method(*vc, sender);
    });
  }
  // A tap on `control` (or `item`) performs the segue, when shouldPerformSegueWithIdentifier agrees.
  void segue(const std::shared_ptr<UIControl>& control, const std::string& identifier);
  void segue(const std::shared_ptr<UIBarButtonItem>& item, const std::string& identifier);

  // Runs awakeFromNib on the views made here, in the order they were made.
  void finish();

 private:
  [[noreturn]] void wrongClass(const std::string& expected);

  UIViewController& controller_;
  UIStoryboard& storyboard_;
  std::vector<std::shared_ptr<UIView>> awaking_;
};
