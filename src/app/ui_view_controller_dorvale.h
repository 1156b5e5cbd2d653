#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_view_controller.h"

// What every screen shares: the one-button alert and the screen-view report. Main thread only.

// Presents on `controller` an alert with `title` and `message` (either may be absent) and one
// "OK" button. The dismiss action runs once, after the alert has closed, with the tapped action.
void showAlert(UIViewController& controller, std::optional<std::string> title,
               std::optional<std::string> message = std::nullopt,
               std::function<void(UIAlertAction&)> dismissAction = {});

// Reports a view of the screen `name` through the default analytics tracker; the name stays on the
// tracker for its later hits. Without a default tracker (the configuration failed at launch) the
// report is skipped.
void analyticsScreenTracking(UIViewController& controller, const std::string& name);
