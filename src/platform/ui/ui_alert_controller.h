#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_view_controller.h"

class UITextField;

enum class UIAlertControllerStyle { ActionSheet = 0, Alert = 1 };
enum class UIAlertActionStyle { Default = 0, Cancel = 1, Destructive = 2 };

// A button of an alert.
class UIAlertAction {
 public:
  using Handler = std::function<void(UIAlertAction& action)>;

  static std::shared_ptr<UIAlertAction> actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style,
                                                        Handler handler = {});
  UIAlertAction(std::optional<std::string> title, UIAlertActionStyle style, Handler handler)
      : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}

  const std::optional<std::string>& title() const { return title_; }
  UIAlertActionStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  bool hasHandler() const { return static_cast<bool>(handler_); }

 private:
  friend class UIAlertController;
  std::optional<std::string> title_;
  UIAlertActionStyle style_;
  bool enabled_ = true;
  Handler handler_;
};

// An alert or action sheet: a title, a message, text fields (alerts only) and buttons. It is
// presented over its presenter without hiding it. A tap on a button first closes the alert, then
// runs the button's handler once, on the main run loop after the dismissal.
class UIAlertController : public UIViewController {
 public:
  static std::shared_ptr<UIAlertController> alertControllerWithTitle(std::optional<std::string> title,
                                                                     std::optional<std::string> message,
                                                                     UIAlertControllerStyle preferredStyle);
  UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                    UIAlertControllerStyle preferredStyle);

  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
  UIAlertControllerStyle preferredStyle() const { return preferredStyle_; }

  // A second cancel action stops the program, as on the platform.
  void addAction(const std::shared_ptr<UIAlertAction>& action);
  const std::vector<std::shared_ptr<UIAlertAction>>& actions() const { return actions_; }
  std::shared_ptr<UIAlertAction> preferredAction() const { return preferredAction_.lock(); }
  void setPreferredAction(const std::shared_ptr<UIAlertAction>& action) { preferredAction_ = action; }

  // Alerts only (an action sheet stops the program). The field is named "alertField<N>" for the
  // console driver unless the handler names it.
  void addTextFieldWithConfigurationHandler(const std::function<void(UITextField&)>& configurationHandler = {});
  const std::vector<std::shared_ptr<UITextField>>& textFields() const { return textFields_; }

  // A finger on a button (the first enabled one with that title, or at that index). False when
  // the alert is not presented, no such button is enabled, or something covers the alert.
  bool tapActionWithTitle(const std::string& title);
  bool tapActionAtIndex(std::size_t index);

  void loadView() override;

 private:
  bool tap(const std::shared_ptr<UIAlertAction>& action);

  std::optional<std::string> message_;
  UIAlertControllerStyle preferredStyle_;
  std::vector<std::shared_ptr<UIAlertAction>> actions_;
  std::weak_ptr<UIAlertAction> preferredAction_;
  std::vector<std::shared_ptr<UITextField>> textFields_;
};
