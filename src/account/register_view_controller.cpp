#include "account/register_view_controller.h"

#include <string>

#include "account/form_support.h"
#include "account/school_select_view_controller.h"
#include "app/required_outlet.h"
#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/text.h"
#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard_segue.h"
#include "services/service_locator.h"

RegisterViewController::RegisterViewController()
    : authenticationManager_(ServiceLocator::shared().authenticationManager()) {}

RegisterViewController::RegisterViewController(const NSCoder& coder)
    : UIViewController(coder), authenticationManager_(ServiceLocator::shared().authenticationManager()) {}

void RegisterViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  navigationItem()->setTitle(NSLocalizedString("register_navigation_title"));
  requiredOutlet(lastNameTextField, "lastNameTextField")
      ->setPlaceholder(NSLocalizedString("register_lastname_textfield_placeholder"));
  requiredOutlet(firstNameTextField, "firstNameTextField")
      ->setPlaceholder(NSLocalizedString("register_firstname_textfield_placeholder"));
  requiredOutlet(emailTextField, "emailTextField")
      ->setPlaceholder(NSLocalizedString("register_email_textfield_placeholder"));
  requiredOutlet(passwordTextField, "passwordTextField")
      ->setPlaceholder(NSLocalizedString("register_password_textfield_placeholder"));
  requiredOutlet(confirmPasswordTextField, "confirmPasswordTextField")
      ->setPlaceholder(NSLocalizedString("register_confirmpassword_textfield_placeholder"));

  addHideKeyboardTap(sharedAs<RegisterViewController>());
}

void RegisterViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  resetBarToPlainLook(*this);
  analyticsScreenTracking(*this, "Register");
}

void RegisterViewController::prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>&) {
  if (segue.identifier() != kSchoolSelectSegue) return;
  auto list = schoolListOf(segue, kSchoolSelectSegue);
  list->setDelegate(sharedAs<RegisterViewController>());
  // The list opens with the earlier choice marked.
  list->setSelectedSchools(schools_);
}

void RegisterViewController::hideKeyboard() { view()->endEditing(false); }

void RegisterViewController::registerButtonTap(UIControl&) {
  const auto lastName = requiredOutlet(lastNameTextField, "lastNameTextField")->text();
  const auto firstName = requiredOutlet(firstNameTextField, "firstNameTextField")->text();
  const auto email = requiredOutlet(emailTextField, "emailTextField")->text();
  const auto password = requiredOutlet(passwordTextField, "passwordTextField")->text();
  const auto confirmation = requiredOutlet(confirmPasswordTextField, "confirmPasswordTextField")->text();
  if (!lastName || !firstName || !email || !password || !confirmation) return;

  // The texts go out as typed: blanks around names are the user's.
  const bool emailValid = isValidEmail(*email);
  const bool passwordValid = isValidPassword(*password);
  const bool passwordsMatch = isCanonicallyEquivalent(*password, *confirmation);
  if (!lastName->empty() && !firstName->empty() && emailValid && passwordValid && passwordsMatch) {
    auto self = sharedAs<RegisterViewController>();
    authenticationManager_->register_(
        *email, *firstName, *lastName, *password, *confirmation, schools_,
        [self] {
          showAlert(*self, NSLocalizedString("register_success_title"), std::nullopt, [self](UIAlertAction&) {
            if (auto nav = self->navigationController()) nav->popViewControllerAnimated(true);
            if (auto delegate = self->loginDelegate()) delegate->shouldSignIn();
          });
        },
        [self](const std::string& message) { showAlert(*self, message); });
    return;
  }

  ValidationMessage message;
  message.addIf(lastName->empty(), "register_lastname_textfield_error_validation");
  message.addIf(firstName->empty(), "register_firstname_textfield_error_validation");
  message.addIf(!emailValid, "register_email_textfield_error_validation");
  message.addIf(!passwordValid, "register_password_textfield_error_validation");
  message.addIf(confirmation->empty(), "register_confirmpassword_textfield_error_validation");
  message.addIf(!passwordsMatch, "register_password_error_nomatch");
  message.show(*this, "register_register_error_validation_title");
}

void RegisterViewController::schoolSelectionDidChange(const std::vector<std::int64_t>& schools) { schools_ = schools; }
