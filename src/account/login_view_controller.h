#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "account/external_auth_provider.h"
#include "account/login_delegate.h"
#include "app/main_view_controller_factory.h"
#include "app/startup_button.h"
#include "app/startup_text_field.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_view_controller.h"
#include "services/authentication_manager.h"
#include "services/session_delegate.h"
#include "signin/daz_sign_in.h"

// The first screen: the login form inside the start-up navigation controller. It signs a student in
// with e-mail and password, asks the backend to send a forgotten password, opens the registration
// and, after every successful sign-in, presents the main tab bar over itself.
// At load it restores the previous sign-in; it also signs in with Facebook and Zedodo, and hands a
// provider user the backend does not know to the external registration.
class LoginViewController : public UIViewController,
                            public DAZSignInUIDelegate,
                            public SessionDelegate,
                            public LoginDelegate {
 public:
  static constexpr const char* kRegisterSegue = "showRegister";
  // The providers' names among the sign-ins waiting in a browser.
  static constexpr const char* kFacebookSignIn = "Facebook";
  static constexpr const char* kZedodoSignIn = "Zedodo";

  LoginViewController();
  explicit LoginViewController(const NSCoder& coder);

  std::weak_ptr<UILabel> titleLabel;
  std::weak_ptr<StartupTextField> emailTextField;
  std::weak_ptr<StartupTextField> passwordTextField;
  std::weak_ptr<StartupButton> loginButton;
  // Opens the registration through the scene's segue.
  std::weak_ptr<UIButton> registerButton;
  std::weak_ptr<UIButton> passwordRecoveryButton;
  std::weak_ptr<NSLayoutConstraint> loginLogoTopSpace;
  std::weak_ptr<NSLayoutConstraint> loginLogoHeight;
  std::weak_ptr<NSLayoutConstraint> logoTitleSpace;
  std::weak_ptr<NSLayoutConstraint> titleEmailSpace;
  std::weak_ptr<NSLayoutConstraint> passwordLoginSpace;
  std::weak_ptr<NSLayoutConstraint> loginRegSpace;
  std::weak_ptr<NSLayoutConstraint> regFbSpace;
  std::weak_ptr<NSLayoutConstraint> fbBottomSpace;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>& sender) override;
  virtual void hideKeyboard();
  virtual void loginButtonTap(UIControl& sender);
  virtual void passwordRecoveryButtonTap(UIControl& sender);
  virtual void zedodoLoginButtonTap(UIControl& sender);
  virtual void fbLoginButtonTap(UIControl& sender);

  // SessionDelegate
  void userDidLogout() override;
  void sessionWillExpire(const std::string& message) override;
  void userMustRegister(const std::string& name, const std::string& email,
                        const std::optional<URL>& pictureUrl) override;
  void userMustRegister(const std::string& firstName, const std::string& lastName, const std::string& email,
                        const std::optional<URL>& pictureUrl) override;
  void userSignedInWithZedodo() override;
  void zedodoSigninError(const std::string& error) override;

  // LoginDelegate
  void shouldSignInWithFacebook() override;
  void shouldSignInWithZedodo() override;
  void shouldSignIn() override;

  // Pushes the external registration filled with what the provider told of the user.
  virtual void showExternalRegistration(const std::string& firstName, const std::string& lastName,
                                        const std::string& email, ExternalAuthProvider provider,
                                        const std::optional<URL>& pictureUrl);

 private:
  // Small phones get tighter spacing; taller screens and tablets keep the scene's constants.
  void fitLayoutToScreen();
  void restorePreviousSignIn();
  void presentMainTabBar();
  // Gives up the sign-ins waiting in a browser but those of `keep`, saying so on the console.
  void giveUpBrowserSignIns(const std::string& keep = "");
  // The closures of every sign-in: the tab bar, or the failure as an alert; with `hidesOverlay`
  // each first hides the overlay asked for before the call.
  AuthenticationManager::Success signedIn(bool hidesOverlay);
  AuthenticationManager::Failure signInFailed(bool hidesOverlay);

  const std::shared_ptr<AuthenticationManager> authenticationManager_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  // Why the backend ended the session, until the form can say it.
  std::optional<std::string> expiredMessage_;
  // Zedodo sign-ins this screen gave up whose end (a cancel) has yet to come back.
  std::size_t zedodoOutcomesGivenUp_ = 0;
};

// A Zedodo full name as first and last name: the last name is what follows the last space.
std::pair<std::string, std::string> splitFullName(const std::string& fullName);
