#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "account/login_delegate.h"
#include "account/school_select_delegate.h"
#include "app/startup_button.h"
#include "app/startup_text_field.h"
#include "platform/ui/ui_view_controller.h"
#include "services/authentication_manager.h"

// The e-mail registration form: names, e-mail, password twice and the schools picked on the school
// list. Every broken rule is shown in one alert; after a confirmed registration the form pops
// itself and asks its login delegate to sign in.
class RegisterViewController : public UIViewController, public SchoolSelectDelegate {
 public:
  static constexpr const char* kSchoolSelectSegue = "showSchoolSelectSegue";

  RegisterViewController();
  explicit RegisterViewController(const NSCoder& coder);

  std::weak_ptr<StartupTextField> lastNameTextField;
  std::weak_ptr<StartupTextField> firstNameTextField;
  std::weak_ptr<StartupTextField> emailTextField;
  std::weak_ptr<StartupTextField> passwordTextField;
  std::weak_ptr<StartupTextField> confirmPasswordTextField;
  // Opens the school list through the scene's segue.
  std::weak_ptr<StartupButton> selectSchoolButton;
  std::weak_ptr<StartupButton> registerButton;

  // Ids of the chosen schools, as the school list last reported them.
  const std::vector<std::int64_t>& schools() const { return schools_; }
  void setSchools(std::vector<std::int64_t> schools) { schools_ = std::move(schools); }
  std::shared_ptr<LoginDelegate> loginDelegate() const { return loginDelegate_.lock(); }
  void setLoginDelegate(std::weak_ptr<LoginDelegate> delegate) { loginDelegate_ = std::move(delegate); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>& sender) override;
  virtual void hideKeyboard();
  virtual void registerButtonTap(UIControl& sender);

  void schoolSelectionDidChange(const std::vector<std::int64_t>& schools) override;

 private:
  const std::shared_ptr<AuthenticationManager> authenticationManager_;
  std::vector<std::int64_t> schools_;
  std::weak_ptr<LoginDelegate> loginDelegate_;
};
