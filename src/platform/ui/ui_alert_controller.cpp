#include "platform/ui/ui_alert_controller.h"

#include "platform/foundation/fatal_error.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_text_field.h"

namespace {

// Draws the alert box: its heading, message, fields and buttons.
class AlertView : public UIView {
 public:
  AlertView(CGRect frame, std::weak_ptr<const UIAlertController> alert) : UIView(frame), alert_(std::move(alert)) {}

 protected:
  void renderSelf(TextCanvas& canvas) const override {
    auto alert = alert_.lock();
    if (!alert) return;
    const bool sheet = alert->preferredStyle() == UIAlertControllerStyle::ActionSheet;
    std::string heading = sheet ? "+++ action sheet" : "+++ alert";
    if (alert->title()) heading += ": " + *alert->title();
    canvas.line(heading);
    if (alert->message()) {
      TextCanvas::Nested nested(canvas);
      canvas.line(*alert->message());
    }
  }
  void renderSubviews(TextCanvas& canvas) const override {
    auto alert = alert_.lock();
    if (!alert) return;
    TextCanvas::Nested nested(canvas);
    UIView::renderSubviews(canvas);
    std::string buttons;
    for (const auto& action : alert->actions()) {
      if (!buttons.empty()) buttons += ' ';
      std::string text = "[" + action->title().value_or("") + "]";
      if (!action->isEnabled()) text += " (disabled)";
      buttons += text;
    }
    if (!buttons.empty()) canvas.line(buttons);
  }

 private:
  std::weak_ptr<const UIAlertController> alert_;
};

}  // namespace

std::shared_ptr<UIAlertAction> UIAlertAction::actionWithTitle(std::optional<std::string> title,
                                                              UIAlertActionStyle style, Handler handler) {
  return std::make_shared<UIAlertAction>(std::move(title), style, std::move(handler));
}

std::shared_ptr<UIAlertController> UIAlertController::alertControllerWithTitle(std::optional<std::string> title,
                                                                               std::optional<std::string> message,
                                                                               UIAlertControllerStyle preferredStyle) {
  return std::make_shared<UIAlertController>(std::move(title), std::move(message), preferredStyle);
}

UIAlertController::UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                                     UIAlertControllerStyle preferredStyle)
    : message_(std::move(message)), preferredStyle_(preferredStyle) {
  setTitle(std::move(title));
  const bool popover = preferredStyle == UIAlertControllerStyle::ActionSheet &&
                       UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
  setModalPresentationStyle(popover ? UIModalPresentationStyle::Popover : UIModalPresentationStyle::Custom);
}

void UIAlertController::loadView() {
  auto alertView = std::make_shared<AlertView>(UIScreen::mainScreen()->bounds(), sharedAs<UIAlertController>());
  for (const auto& field : textFields_) alertView->addSubview(field);
  setView(alertView);
}

void UIAlertController::addAction(const std::shared_ptr<UIAlertAction>& action) {
  if (!action) return;
  if (action->style() == UIAlertActionStyle::Cancel) {
    for (const auto& a : actions_) {
      if (a->style() == UIAlertActionStyle::Cancel) {
        fatalError("UIAlertController can only have one action with a style of UIAlertActionStyleCancel");
      }
    }
  }
  actions_.push_back(action);
}

void UIAlertController::addTextFieldWithConfigurationHandler(
    const std::function<void(UITextField&)>& configurationHandler) {
  if (preferredStyle_ != UIAlertControllerStyle::Alert) {
    fatalError("Text fields can only be added to an alert controller of style UIAlertControllerStyleAlert");
  }
  auto field = UITextField::make();
  field->setAccessibilityIdentifier("alertField" + std::to_string(textFields_.size()));
  if (configurationHandler) configurationHandler(*field);
  textFields_.push_back(field);
  if (auto v = viewIfLoaded()) v->addSubview(field);
}

bool UIAlertController::tapActionWithTitle(const std::string& title) {
  for (const auto& action : actions_) {
    if (action->title() == title && action->isEnabled()) return tap(action);
  }
  return false;
}

bool UIAlertController::tapActionAtIndex(std::size_t index) { return index < actions_.size() && tap(actions_[index]); }

bool UIAlertController::tap(const std::shared_ptr<UIAlertAction>& action) {
  auto presenter = presentingViewController();
  if (!presenter || !action->isEnabled()) return false;
  if (auto v = viewIfLoaded(); !v || !v->canReceiveTouches()) return false;
  // The alert lives until its handler has run, so the handler can still read its fields.
  presenter->dismissViewControllerAnimated(true, [self = sharedAs<UIAlertController>(), action] {
    if (action->handler_) action->handler_(*action);
  });
  return true;
}
