#include "account/profile_view_controller.h"

#include <string>

#include "account/form_support.h"
#include "app/progress_indicator_helper.h"
#include "app/required_outlet.h"
#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/text.h"
#include "platform/frameworks/image_loading.h"
#include "platform/ui/ui_navigation_item.h"
#include "services/service_locator.h"

namespace {

// The entry under `key` when it is there and of class T.
template <class T>
const T* infoEntry(const UIImagePickerInfo& info, const char* key) {
  auto found = info.find(key);
  return found == info.end() ? nullptr : std::get_if<T>(&found->second);
}

}  // namespace

ProfileViewController::ProfileViewController()
    : profileService_(ServiceLocator::shared().profileService()),
      authenticationManager_(ServiceLocator::shared().authenticationManager()) {}

ProfileViewController::ProfileViewController(const NSCoder& coder)
    : UIViewController(coder),
      profileService_(ServiceLocator::shared().profileService()),
      authenticationManager_(ServiceLocator::shared().authenticationManager()) {}

void ProfileViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  requiredOutlet(modifyFbButton, "modifyFbButton")->setHidden(true);
  requiredOutlet(modifyZedodoButton, "modifyZedodoButton")->setHidden(true);

  navigationItem()->setTitle(NSLocalizedString("profile_navigation_title"));
  requiredOutlet(oldPasswordTextField, "oldPasswordTextField")
      ->setPlaceholder(NSLocalizedString("profile_oldpassword_textfield_placeholder"));
  requiredOutlet(newPasswordTextField, "newPasswordTextField")
      ->setPlaceholder(NSLocalizedString("profile_newpassword_textfield_placeholder"));
  requiredOutlet(confirmPasswordTextField, "confirmPasswordTextField")
      ->setPlaceholder(NSLocalizedString("profile_confirmpassword_textfield_placeholder"));
  requiredOutlet(logOutButton, "logOutButton")->setTitle(NSLocalizedString("profile_logout_title"));

  auto& layer = requiredOutlet(profilePictureImageView, "profilePictureImageView")->layer();
  layer.masksToBounds = true;
  layer.cornerRadius = kPictureCornerRadius;

  fetchProfile();

  addHideKeyboardTap(sharedAs<ProfileViewController>());
}

void ProfileViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  // A profile that could not be fetched is tried again, or the screen would stay dead until the
  // next sign-in.
  if (!user_ && !fetching_) fetchProfile();
  analyticsScreenTracking(*this, "Profile");
}

void ProfileViewController::fetchProfile() {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  fetching_ = true;
  auto self = sharedAs<ProfileViewController>();
  profileService_->getUserProfile(
      [self](const std::shared_ptr<User>& user) {
        self->fetching_ = false;
        self->showProfile(user);
      },
      [self](const std::string& message) {
        self->fetching_ = false;
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}

void ProfileViewController::showProfile(const std::shared_ptr<User>& user) {
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  user_ = user;
  requiredOutlet(nameLabel, "nameLabel")->setText(user->lastName() + " " + user->firstName());
  requiredOutlet(emailLabel, "emailLabel")->setText(user->userName());
  // A path that is no URL leaves the picture as it is.
  if (const auto& path = user->profilePicturePath()) {
    if (auto url = URL::URLWithString(*path))
      hnk_setImageFromURL(*requiredOutlet(profilePictureImageView, "profilePictureImageView"), *url);
  }
  requiredOutlet(oldPasswordTextField, "oldPasswordTextField")->setHidden(!user->hasPassword());
  requiredOutlet(changePasswordButton, "changePasswordButton")
      ->setTitle(NSLocalizedString(user->hasPassword() ? "profile_newpassword_button_title"
                                                       : "profile_addpassword_button_title"),
                 UIControlState::Normal);
  requiredOutlet(modifyFbButton, "modifyFbButton")
      ->setTitle(
          NSLocalizedString(user->hasFacebook() ? "profile_fb_button_delete_title" : "profile_fb_button_add_title"),
          UIControlState::Normal);
  requiredOutlet(modifyZedodoButton, "modifyZedodoButton")
      ->setTitle(NSLocalizedString(user->hasZedodo() ? "profile_zedodo_button_delete_title"
                                                     : "profile_zedodo_button_add_title"),
                 UIControlState::Normal);
}

void ProfileViewController::hideKeyboard() { view()->endEditing(false); }

void ProfileViewController::logOutButtonTap(UIBarButtonItem&) { authenticationManager_->logout(); }

void ProfileViewController::changePasswordButtonTap(UIControl&) {
  if (!user_) return;
  const bool changing = user_->hasPassword();
  auto oldField = requiredOutlet(oldPasswordTextField, "oldPasswordTextField");
  auto newField = requiredOutlet(newPasswordTextField, "newPasswordTextField");
  auto confirmField = requiredOutlet(confirmPasswordTextField, "confirmPasswordTextField");
  // Taken as typed: blanks are part of a password.
  const std::string oldPassword = changing ? oldField->text().value_or("") : "";
  const std::string newPassword = newField->text().value_or("");
  const std::string confirmation = confirmField->text().value_or("");

  const bool oldMissing = changing && oldPassword.empty();
  const bool newValid = isValidPassword(newPassword);
  const bool matching = isCanonicallyEquivalent(newPassword, confirmation);
  if (oldMissing || !newValid || !matching) {
    ValidationMessage message;
    message.addIf(oldMissing, "profile_newpassword_error_nooldpassword_message");
    message.addIf(!newValid, "profile_newpassword_error_nonewpassword_message");
    message.addIf(confirmation.empty(), "profile_newpassword_error_noconfirmpassword_message");
    message.addIf(!matching, "profile_newpassword_error_newconfirmnotmatch_message");
    return message.show(*this, "profile_newpassword_error_validation_title");
  }

  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<ProfileViewController>();
  auto failure = [self](const std::string& message) {
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    showAlert(*self, message);
  };
  if (changing) {
    authenticationManager_->changePassword(
        oldPassword, newPassword,
        [self] {
          ProgressIndicatorHelper::instance()->hideProgressIndicator();
          showAlert(*self, NSLocalizedString("profile_newpassword_success_title"), std::nullopt,
                    [self](UIAlertAction&) {
                      for (const auto* field :
                           {&self->oldPasswordTextField, &self->newPasswordTextField, &self->confirmPasswordTextField})
                        requiredOutlet(*field, "password field")->setText("");
                    });
        },
        failure);
    return;
  }
  authenticationManager_->addPassword(
      newPassword,
      [self] {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        requiredOutlet(self->oldPasswordTextField, "oldPasswordTextField")->setHidden(false);
        // The refreshed profile switches the form to changing the password.
        self->fetchProfile();
        showAlert(*self, NSLocalizedString("profile_addpassword_success_title"), std::nullopt, [self](UIAlertAction&) {
          for (const auto* field : {&self->newPasswordTextField, &self->confirmPasswordTextField})
            requiredOutlet(*field, "password field")->setText("");
        });
      },
      failure);
}

// Linking and unlinking the providers is not offered; their buttons stay hidden.
void ProfileViewController::changeFbButtonTap(UIControl&) {}
void ProfileViewController::changeZedodoButtonTap(UIControl&) {}

void ProfileViewController::profilePictureTap(UIGestureRecognizer&) {
  auto picker = std::make_shared<UIImagePickerController>();
  picker->setDelegate(std::static_pointer_cast<UIImagePickerControllerDelegate>(sharedAs<ProfileViewController>()));
  picker->setSourceType(UIImagePickerControllerSourceType::PhotoLibrary);
  presentViewController(picker, true);
}

void ProfileViewController::didFinishPickingMediaWithInfo(UIImagePickerController& picker,
                                                          const UIImagePickerInfo& info) {
  picker.dismissViewControllerAnimated(true);
  const auto* reference = infoEntry<URL>(info, UIImagePickerControllerReferenceURL);
  const auto* picked = infoEntry<std::shared_ptr<UIImage>>(info, UIImagePickerControllerOriginalImage);
  if (!reference || !picked || !*picked) return;
  // Exact case, as the photo library names its assets.
  const std::string extension = reference->pathExtension();
  std::optional<Data> data;
  std::string format;
  if (extension == "JPEG" || extension == "JPG") {
    data = UIImageJPEGRepresentation(*picked, 1.0);
    format = "JPEG";
  } else if (extension == "PNG") {
    data = UIImagePNGRepresentation(*picked);
    format = "PNG";
  }
  if (!data) return;

  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<ProfileViewController>();
  profileService_->uploadProfilePicture(
      std::move(*data), format,
      [self, image = *picked] {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        requiredOutlet(self->profilePictureImageView, "profilePictureImageView")->setImage(image);
        showAlert(*self, NSLocalizedString("profile_profilepicchange_success_title"));
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}
