#include "account/external_register_view_controller.h"

#include <string>

#include "account/form_support.h"
#include "account/school_select_view_controller.h"
#include "app/required_outlet.h"
#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/fatal_error.h"
#include "platform/foundation/text.h"
#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard_segue.h"
#include "platform/ui/url_contents.h"
#include "services/service_locator.h"

ExternalRegisterViewController::ExternalRegisterViewController()
    : authenticationManager_(ServiceLocator::shared().authenticationManager()),
      profileService_(ServiceLocator::shared().profileService()) {}

ExternalRegisterViewController::ExternalRegisterViewController(const NSCoder& coder)
    : UIViewController(coder),
      authenticationManager_(ServiceLocator::shared().authenticationManager()),
      profileService_(ServiceLocator::shared().profileService()) {}

void ExternalRegisterViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  navigationItem()->setTitle(NSLocalizedString("register_navigation_title"));
  auto lastNameField = requiredOutlet(lastNameTextField, "lastNameTextField");
  auto firstNameField = requiredOutlet(firstNameTextField, "firstNameTextField");
  auto emailField = requiredOutlet(emailTextField, "emailTextField");
  lastNameField->setPlaceholder(NSLocalizedString("register_lastname_textfield_placeholder"));
  firstNameField->setPlaceholder(NSLocalizedString("register_firstname_textfield_placeholder"));
  emailField->setPlaceholder(NSLocalizedString("register_email_textfield_placeholder"));

  addHideKeyboardTap(sharedAs<ExternalRegisterViewController>());

  if (firstName) firstNameField->setText(*firstName);
  if (lastName) lastNameField->setText(*lastName);
  if (email) emailField->setText(*email);
}

void ExternalRegisterViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  resetBarToPlainLook(*this);
  analyticsScreenTracking(*this, "ExternalRegister");
}

void ExternalRegisterViewController::prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>&) {
  if (segue.identifier() != kSchoolSelectSegue) return;
  auto list = schoolListOf(segue, kSchoolSelectSegue);
  // Unlike the e-mail registration, the list opens unmarked.
  list->setDelegate(sharedAs<ExternalRegisterViewController>());
}

void ExternalRegisterViewController::hideKeyboard() { view()->endEditing(false); }

void ExternalRegisterViewController::registerButtonTap(UIControl&) {
  const auto first = requiredOutlet(firstNameTextField, "firstNameTextField")->text();
  const auto last = requiredOutlet(lastNameTextField, "lastNameTextField")->text();
  const auto mail = requiredOutlet(emailTextField, "emailTextField")->text();
  if (!first || !last || !mail) return;

  // Sent as typed: a name of blanks is the user's.
  const bool emailValid = isValidEmail(*mail);
  if (first->empty() || last->empty() || !emailValid) {
    ValidationMessage message;
    message.addIf(last->empty(), "register_lastname_textfield_error_validation");
    message.addIf(first->empty(), "register_firstname_textfield_error_validation");
    message.addIf(!emailValid, "register_email_textfield_error_validation");
    return message.show(*this, "register_register_error_validation_title");
  }

  if (!provider) fatalError("ExternalRegisterViewController: the provider is not set");
  const ExternalAuthProvider registering = *provider;
  auto self = sharedAs<ExternalRegisterViewController>();
  auto success = [self, registering] {
    showAlert(*self, NSLocalizedString("register_success_title"), std::nullopt,
              [self, registering](UIAlertAction&) { self->finishRegistration(registering); });
  };
  auto failure = [self](const std::string& message) { showAlert(*self, message); };
  if (registering == ExternalAuthProvider::Facebook) {
    authenticationManager_->registerWithFacebook(*first, *last, *mail, schools_, success, failure);
  } else {
    authenticationManager_->registerWithZedodo(*first, *last, *mail, schools_, success, failure);
  }
}

void ExternalRegisterViewController::finishRegistration(ExternalAuthProvider registered) {
  // The user waits for the picture, but not for its upload; a picture that cannot be had is skipped.
  if (pictureUrl) {
    if (auto data = dataWithContentsOfURL(*pictureUrl, kPictureTimeout))
      profileService_->uploadProfilePicture(
          std::move(*data), "JPEG", [] {}, [](const std::string&) {});
  }
  if (auto nav = navigationController()) nav->popViewControllerAnimated(true);
  auto delegate = loginDelegate();
  if (!delegate) return;
  if (registered == ExternalAuthProvider::Facebook) {
    delegate->shouldSignInWithFacebook();
  } else {
    delegate->shouldSignInWithZedodo();
  }
}

void ExternalRegisterViewController::schoolSelectionDidChange(const std::vector<std::int64_t>& schools) {
  schools_ = schools;
}
