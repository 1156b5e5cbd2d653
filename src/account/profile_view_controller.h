#pragma once

#include <memory>

#include "app/profile_text_field.h"
#include "app/startup_button.h"
#include "model/user.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image_picker_controller.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_view_controller.h"
#include "services/authentication_manager.h"
#include "services/profile_service.h"

// The signed-in student's account: name, user name and picture fetched afresh at each load; the
// password changed, or added to an account made through a provider; a new picture from the photo
// library; and the log-out. The provider link buttons stay hidden.
class ProfileViewController : public UIViewController, public UIImagePickerControllerDelegate {
 public:
  // Points; the picture shows as a circle.
  static constexpr CGFloat kPictureCornerRadius = 94;

  ProfileViewController();
  explicit ProfileViewController(const NSCoder& coder);

  std::weak_ptr<ProfileTextField> oldPasswordTextField;
  std::weak_ptr<ProfileTextField> newPasswordTextField;
  std::weak_ptr<ProfileTextField> confirmPasswordTextField;
  std::weak_ptr<StartupButton> changePasswordButton;
  std::weak_ptr<UIBarButtonItem> logOutButton;
  std::weak_ptr<UIImageView> profilePictureImageView;
  std::weak_ptr<UILabel> nameLabel;
  std::weak_ptr<UILabel> emailLabel;
  std::weak_ptr<StartupButton> modifyFbButton;
  std::weak_ptr<StartupButton> modifyZedodoButton;

  // The profile last shown; nothing before the first fetch answered.
  const std::shared_ptr<User>& user() const { return user_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  virtual void hideKeyboard();
  virtual void logOutButtonTap(UIBarButtonItem& sender);
  virtual void changePasswordButtonTap(UIControl& sender);
  virtual void changeFbButtonTap(UIControl& sender);
  virtual void changeZedodoButtonTap(UIControl& sender);
  virtual void profilePictureTap(UIGestureRecognizer& sender);

  // UIImagePickerControllerDelegate
  void didFinishPickingMediaWithInfo(UIImagePickerController& picker, const UIImagePickerInfo& info) override;

 private:
  void fetchProfile();
  void showProfile(const std::shared_ptr<User>& user);

  const std::shared_ptr<ProfileService> profileService_;
  const std::shared_ptr<AuthenticationManager> authenticationManager_;
  std::shared_ptr<User> user_;
  bool fetching_ = false;
};
