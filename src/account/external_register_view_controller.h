#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "account/external_auth_provider.h"
#include "account/login_delegate.h"
#include "account/school_select_delegate.h"
#include "app/startup_text_field.h"
#include "platform/foundation/date.h"
#include "platform/foundation/url.h"
#include "platform/ui/ui_view_controller.h"
#include "services/authentication_manager.h"
#include "services/profile_service.h"

// Completes the registration of a Facebook or Zedodo user the backend does not know yet: the
// provider's names and e-mail, editable, and the schools picked on the school list. After a
// confirmed registration it uploads the provider's picture, pops itself and asks its login
// delegate to sign in with the same provider.
class ExternalRegisterViewController : public UIViewController, public SchoolSelectDelegate {
 public:
  static constexpr const char* kStoryboardIdentifier = "externalRegisterViewController";
  static constexpr const char* kSchoolSelectSegue = "showSchoolSelectSegue";
  // The provider's picture is fetched while the user waits; never longer than this.
  static constexpr TimeInterval kPictureTimeout = 10;

  ExternalRegisterViewController();
  explicit ExternalRegisterViewController(const NSCoder& coder);

  std::weak_ptr<StartupTextField> firstNameTextField;
  std::weak_ptr<StartupTextField> lastNameTextField;
  std::weak_ptr<StartupTextField> emailTextField;

  // Set before the view loads; shown in the fields.
  std::optional<std::string> firstName;
  std::optional<std::string> lastName;
  std::optional<std::string> email;
  // Must be set before register is tapped.
  std::optional<ExternalAuthProvider> provider;
  std::optional<URL> pictureUrl;

  // Ids of the chosen schools, as the school list last reported them.
  const std::vector<std::int64_t>& schools() const { return schools_; }
  std::shared_ptr<LoginDelegate> loginDelegate() const { return loginDelegate_.lock(); }
  void setLoginDelegate(std::weak_ptr<LoginDelegate> delegate) { loginDelegate_ = std::move(delegate); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>& sender) override;
  virtual void hideKeyboard();
  virtual void registerButtonTap(UIControl& sender);

  void schoolSelectionDidChange(const std::vector<std::int64_t>& schools) override;

 private:
  void finishRegistration(ExternalAuthProvider registered);

  const std::shared_ptr<AuthenticationManager> authenticationManager_;
  const std::shared_ptr<ProfileService> profileService_;
  std::vector<std::int64_t> schools_;
  std::weak_ptr<LoginDelegate> loginDelegate_;
};
