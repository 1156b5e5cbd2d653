#include "account/login_view_controller.h"

#include <array>
#include <iostream>
#include <utility>

#include "account/external_register_view_controller.h"
#include "account/form_support.h"
#include "account/register_view_controller.h"
#include "app/progress_indicator_helper.h"
#include "app/required_outlet.h"
#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/text.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_storyboard_segue.h"
#include "platform/ui/ui_view.h"
#include "services/service_locator.h"

LoginViewController::LoginViewController()
    : authenticationManager_(ServiceLocator::shared().authenticationManager()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

LoginViewController::LoginViewController(const NSCoder& coder)
    : UIViewController(coder),
      authenticationManager_(ServiceLocator::shared().authenticationManager()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

void LoginViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  requiredOutlet(titleLabel, "titleLabel")->setText(NSLocalizedString("login_title"));
  requiredOutlet(emailTextField, "emailTextField")
      ->setPlaceholder(NSLocalizedString("login_email_textfield_placeholder"));
  requiredOutlet(passwordTextField, "passwordTextField")
      ->setPlaceholder(NSLocalizedString("login_password_textfield_placeholder"));
  requiredOutlet(loginButton, "loginButton")
      ->setTitle(NSLocalizedString("login_login_button_title"), UIControlState::Normal);
  requiredOutlet(registerButton, "registerButton")
      ->setTitle(NSLocalizedString("login_register_button_title"), UIControlState::Normal);
  requiredOutlet(passwordRecoveryButton, "passwordRecoveryButton")
      ->setTitle(NSLocalizedString("login_recoverpassword_button_title"), UIControlState::Normal);

  fitLayoutToScreen();

  auto self = sharedAs<LoginViewController>();
  authenticationManager_->setSessionDelegate(std::static_pointer_cast<SessionDelegate>(self));
  DAZSignIn::sharedInstance()->setUiDelegate(std::static_pointer_cast<DAZSignInUIDelegate>(self));

  // A transparent bar: the login background shows through.
  if (auto nav = navigationController()) {
    nav->navigationBar()->setBackgroundImage(UIImage::make(), UIBarMetrics::Default);
    nav->navigationBar()->setShadowImage(UIImage::make());
    nav->view()->setBackgroundColor(UIColor::clearColor());
  }

  addHideKeyboardTap(self);

  restorePreviousSignIn();
}

void LoginViewController::fitLayoutToScreen() {
  if (UIDevice::currentDevice()->userInterfaceIdiom() != UIUserInterfaceIdiom::Phone) return;
  const CGFloat height = view()->bounds().size.height;
  // One column per band of screen height; nothing leaves the scene's constant.
  std::size_t column;
  if (height < 500) {
    column = 0;
  } else if (height < 600) {
    column = 1;
  } else if (height < 700) {
    column = 2;
  } else {
    return;
  }
  using Column = std::array<std::optional<CGFloat>, 3>;
  const std::array<std::pair<std::weak_ptr<NSLayoutConstraint>*, Column>, 8> table = {{
      {&loginLogoTopSpace, {25, 25, 23}},
      {&loginLogoHeight, {100, 135, 196}},
      {&logoTitleSpace, {0, std::nullopt, std::nullopt}},
      {&titleEmailSpace, {6, 13, 25}},
      {&passwordLoginSpace, {8, std::nullopt, std::nullopt}},
      {&loginRegSpace, {0, 0, std::nullopt}},
      {&regFbSpace, {36, 43, 50}},
      {&fbBottomSpace, {4, 18, 31}},
  }};
  for (const auto& [constraint, values] : table) {
    if (const auto& value = values[column]) requiredOutlet(*constraint, "layout constraint")->setConstant(*value);
  }
}

void LoginViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  analyticsScreenTracking(*this, "Login");
}

void LoginViewController::prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>&) {
  if (segue.identifier() != kRegisterSegue) return;
  auto registration = std::dynamic_pointer_cast<RegisterViewController>(segue.destinationViewController());
  if (!registration) fatalError(std::string(kRegisterSegue) + " must lead to a RegisterViewController");
  registration->setLoginDelegate(std::static_pointer_cast<LoginDelegate>(sharedAs<LoginViewController>()));
}

void LoginViewController::hideKeyboard() { view()->endEditing(false); }

void LoginViewController::loginButtonTap(UIControl&) {
  const auto email = requiredOutlet(emailTextField, "emailTextField")->text();
  const auto password = requiredOutlet(passwordTextField, "passwordTextField")->text();
  if (!email || !password) return;
  const bool emailValid = isValidEmail(*email);
  const bool passwordValid = isValidPassword(*password);
  if (emailValid && passwordValid) {
    ProgressIndicatorHelper::instance()->showProgressIndicator();
    auto self = sharedAs<LoginViewController>();
    // Sent as typed: blanks around them are the user's.
    authenticationManager_->login(
        *email, *password,
        [self] {
          ProgressIndicatorHelper::instance()->hideProgressIndicator();
          requiredOutlet(self->emailTextField, "emailTextField")->setText("");
          requiredOutlet(self->passwordTextField, "passwordTextField")->setText("");
          self->presentMainTabBar();
        },
        [self](const std::string& message) {
          ProgressIndicatorHelper::instance()->hideProgressIndicator();
          showAlert(*self, message);
        });
    return;
  }
  ValidationMessage message;
  message.addIf(!emailValid, "login_email_textfield_error_validation");
  message.addIf(!passwordValid, "login_password_textfield_error_validation");
  message.show(*this, "login_login_error_validation_title");
}

void LoginViewController::passwordRecoveryButtonTap(UIControl&) {
  const auto email = requiredOutlet(emailTextField, "emailTextField")->text();
  if (!email) return;
  // Here the validation text is the alert's title.
  if (!isValidEmail(*email)) return showAlert(*this, NSLocalizedString("login_email_textfield_error_validation"));
  auto self = sharedAs<LoginViewController>();
  // No overlay: the recovery runs in the background of the form.
  authenticationManager_->recoverPassword(
      *email, [self] { showAlert(*self, NSLocalizedString("login_reoverpassword_success_title")); },
      [self](const std::string& message) { showAlert(*self, message); });
}

void LoginViewController::presentMainTabBar() {
  // Signed in: a sign-in still waiting in a browser would switch the account when it answered.
  giveUpBrowserSignIns();
  presentViewController(viewControllerFactory_->getMainTabBarController(), true);
}

void LoginViewController::giveUpBrowserSignIns(const std::string& keep) {
  for (const auto& provider : BrowserSignIns::giveUp(std::cout, keep))
    if (provider == kZedodoSignIn) ++zedodoOutcomesGivenUp_;
}

void LoginViewController::restorePreviousSignIn() {
  const auto type = authenticationManager_->authenticationType();
  if (!type) return;
  switch (*type) {
    case AuthenticationType::Zedodo: {
      auto signIn = DAZSignIn::sharedInstance();
      // The outcome comes back through userSignedInWithZedodo or zedodoSigninError.
      if (signIn->hasAuthInKeychain()) return signIn->signInSilently();
      // Without its grant the token can never be renewed: the next start must not take it up again.
      authenticationManager_->setZedodoToken(std::nullopt);
      return;
    }
    case AuthenticationType::Facebook: {
      auto token = FBSDKAccessToken::currentAccessToken();
      if (!token) return;
      authenticationManager_->setFbToken(token->tokenString());
      return authenticationManager_->signInWithFacebook(signedIn(false), signInFailed(false));
    }
    case AuthenticationType::Basic: return authenticationManager_->signIn(signedIn(false), signInFailed(false));
  }
}

AuthenticationManager::Success LoginViewController::signedIn(bool hidesOverlay) {
  return [self = sharedAs<LoginViewController>(), hidesOverlay] {
    if (hidesOverlay) ProgressIndicatorHelper::instance()->hideProgressIndicator();
    self->presentMainTabBar();
  };
}

AuthenticationManager::Failure LoginViewController::signInFailed(bool hidesOverlay) {
  return [self = sharedAs<LoginViewController>(), hidesOverlay](const std::string& message) {
    if (hidesOverlay) ProgressIndicatorHelper::instance()->hideProgressIndicator();
    showAlert(*self, message);
  };
}

void LoginViewController::zedodoLoginButtonTap(UIControl&) {
  // Either answer would sign in: a Facebook dialog still open in the browser ends here, said aloud.
  giveUpBrowserSignIns(kZedodoSignIn);
  DAZSignIn::sharedInstance()->signIn();
}

void LoginViewController::fbLoginButtonTap(UIControl&) {
  // Either answer would sign in: a Zedodo sign-in still waiting in the browser ends here, said aloud.
  giveUpBrowserSignIns(kFacebookSignIn);
  auto self = sharedAs<LoginViewController>();
  // A cancelled dialog calls neither closure.
  authenticationManager_->loginWithFacebook(
      self,
      [self] {
        ProgressIndicatorHelper::instance()->showProgressIndicator();
        self->authenticationManager_->signInWithFacebook(self->signedIn(true), self->signInFailed(true));
      },
      signInFailed(false));
}

void LoginViewController::userDidLogout() {
  auto message = std::exchange(expiredMessage_, std::nullopt);
  // Only the tab bar goes: an alert a failure has just shown here keeps its message.
  auto presented = presentedViewController();
  if (!presented || std::dynamic_pointer_cast<UIAlertController>(presented)) return;
  // The failure's alert went with the tab bar: the form says why the user is back.
  std::weak_ptr<LoginViewController> weak = sharedAs<LoginViewController>();
  dismissViewControllerAnimated(true, [weak, message] {
    if (auto self = weak.lock(); self && message) showAlert(*self, *message);
  });
}

void LoginViewController::sessionWillExpire(const std::string& message) { expiredMessage_ = message; }

void LoginViewController::userMustRegister(const std::string& name, const std::string& email,
                                           const std::optional<URL>& pictureUrl) {
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  auto [first, last] = splitFullName(name);
  showExternalRegistration(first, last, email, ExternalAuthProvider::Zedodo, pictureUrl);
}

void LoginViewController::userMustRegister(const std::string& firstName, const std::string& lastName,
                                           const std::string& email, const std::optional<URL>& pictureUrl) {
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  showExternalRegistration(firstName, lastName, email, ExternalAuthProvider::Facebook, pictureUrl);
}

void LoginViewController::showExternalRegistration(const std::string& firstName, const std::string& lastName,
                                                   const std::string& email, ExternalAuthProvider provider,
                                                   const std::optional<URL>& pictureUrl) {
  auto registration = std::dynamic_pointer_cast<ExternalRegisterViewController>(
      UIStoryboard::storyboardWithName("Startup")->instantiateViewControllerWithIdentifier(
          ExternalRegisterViewController::kStoryboardIdentifier));
  if (!registration) fatalError("externalRegisterViewController must be an ExternalRegisterViewController");
  registration->firstName = firstName;
  registration->lastName = lastName;
  registration->email = email;
  registration->provider = provider;
  registration->pictureUrl = pictureUrl;
  registration->setLoginDelegate(std::static_pointer_cast<LoginDelegate>(sharedAs<LoginViewController>()));
  if (auto nav = navigationController()) nav->pushViewController(registration, true);
}

void LoginViewController::userSignedInWithZedodo() {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  authenticationManager_->signInWithZedodo(signedIn(true), signInFailed(true));
}

void LoginViewController::zedodoSigninError(const std::string& error) {
  // The user left that sign-in for another: its end is no news.
  if (zedodoOutcomesGivenUp_ > 0) {
    --zedodoOutcomesGivenUp_;
    return;
  }
  showAlert(*this, error);
}

void LoginViewController::shouldSignInWithFacebook() {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  authenticationManager_->signInWithFacebook(signedIn(true), signInFailed(true));
}

void LoginViewController::shouldSignInWithZedodo() {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  authenticationManager_->signInWithZedodo(signedIn(true), signInFailed(true));
}

void LoginViewController::shouldSignIn() {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  authenticationManager_->signIn(signedIn(true), signInFailed(true));
}

std::pair<std::string, std::string> splitFullName(const std::string& fullName) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t space; (space = fullName.find(' ', start)) != std::string::npos; start = space + 1)
    pieces.push_back(fullName.substr(start, space - start));
  pieces.push_back(fullName.substr(start));
  if (pieces.size() < 2) return {fullName, ""};
  // The pieces before the last, rejoined with single spaces (empty ones included).
  std::string first;
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) first += pieces[i] + " ";
  first.pop_back();
  return {first, pieces.back()};
}
