#include "app/ui_view_controller_dorvale.h"

#include "analytics/zai.h"
#include "analytics/zai_dictionary_builder.h"
#include "analytics/zai_fields.h"
#include "analytics/zai_tracker.h"
#include "platform/frameworks/xcg_logger.h"

void showAlert(UIViewController& controller, std::optional<std::string> title, std::optional<std::string> message,
               std::function<void(UIAlertAction&)> dismissAction) {
  auto alert =
      UIAlertController::alertControllerWithTitle(std::move(title), std::move(message), UIAlertControllerStyle::Alert);
  UIAlertAction::Handler handler;
  if (dismissAction)
    handler = [dismissAction = std::move(dismissAction)](UIAlertAction& action) { dismissAction(action); };
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, std::move(handler)));
  controller.presentViewController(alert, true);
}

void analyticsScreenTracking(UIViewController& /*controller*/, const std::string& name) {
  auto tracker = ZAI::sharedInstance()->defaultTracker();
  if (!tracker) {
    XCGLogger::debug([&] { return "No analytics tracker: screen view \"" + name + "\" not reported"; }, __func__,
                     __FILE__, __LINE__);
    return;
  }
  tracker->set(kZAIScreenName, name);
  tracker->send(ZAIDictionaryBuilder::createScreenView()->build());
}
