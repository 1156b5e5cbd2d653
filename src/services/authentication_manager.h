#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "backend/backend_api.h"
#include "backend/transfer_coordinator.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "services/session_delegate.h"
#include "signin/daz_profile_data.h"

class ProfileService;

// The signed-in state: the method in force, the three tokens (kept in the keychain only), the
// provider profile data a registration needs, and the login screen as session delegate.
// Main thread only.
class AuthenticationManager : public AuthenticationManaging,
                              public std::enable_shared_from_this<AuthenticationManager> {
 public:
  static constexpr const char* kAccessTokenKey = "accessToken";
  static constexpr const char* kZedodoTokenKey = "zedodoToken";
  static constexpr const char* kFbTokenKey = "fbToken";

  // Restores the method from which tokens the keychain holds: an access token means Basic, else a
  // Zedodo token Zedodo, else a Facebook token Facebook.
  AuthenticationManager();
  ~AuthenticationManager() override = default;

  // The cross-links are held weakly: the service locator owns every service.
  std::shared_ptr<BackendApi> backendApi() const { return backendApi_.lock(); }
  void setBackendApi(std::weak_ptr<BackendApi> backendApi) { backendApi_ = std::move(backendApi); }
  std::shared_ptr<ProfileService> profileService() const { return profileService_.lock(); }
  void setProfileService(std::weak_ptr<ProfileService> profileService) { profileService_ = std::move(profileService); }
  const std::shared_ptr<FBSDKLoginManager>& fbLoginManager() const { return fbLoginManager_; }
  void setFbLoginManager(std::shared_ptr<FBSDKLoginManager> manager) { fbLoginManager_ = std::move(manager); }
  std::shared_ptr<SessionDelegate> sessionDelegate() const { return sessionDelegate_.lock(); }
  void setSessionDelegate(std::weak_ptr<SessionDelegate> delegate) { sessionDelegate_ = std::move(delegate); }

  std::optional<AuthenticationType> authenticationType() const override { return authenticationType_; }
  void setAuthenticationType(std::optional<AuthenticationType> type) { authenticationType_ = type; }
  // Facebook profile values under "email", "first_name", "last_name", "id".
  const std::optional<std::map<std::string, std::string>>& fbUserData() const { return fbUserData_; }
  void setFbUserData(std::optional<std::map<std::string, std::string>> data) { fbUserData_ = std::move(data); }
  const std::shared_ptr<DAZProfileData>& zedodoUserData() const { return zedodoUserData_; }
  void setZedodoUserData(std::shared_ptr<DAZProfileData> data) { zedodoUserData_ = std::move(data); }

  // Keychain reads and writes; writing nothing removes the entry.
  std::optional<std::string> accessToken() const override;
  virtual void setAccessToken(const std::optional<std::string>& token);
  virtual std::optional<std::string> zedodoToken() const;
  virtual void setZedodoToken(const std::optional<std::string>& token);
  std::optional<std::string> fbToken() const override;
  virtual void setFbToken(const std::optional<std::string>& token);

  // Hides the progress indicator, removes the three tokens, forgets the method, logs out of
  // Facebook and Zedodo, runs `completion`, then tells the session delegate. Provider profile data
  // stays.
  void logout(std::function<void()> completion = {}) override;
  // A Zedodo token valid for at least a minute, stored before `success` gets it; `failure` when the
  // Zedodo component has no user or cannot refresh. Both run on the main run loop.
  void refreshZedodoToken(std::function<void(std::string token)> success, std::function<void()> failure) override;

 private:
  std::weak_ptr<BackendApi> backendApi_;
  std::weak_ptr<ProfileService> profileService_;
  std::shared_ptr<FBSDKLoginManager> fbLoginManager_;
  std::weak_ptr<SessionDelegate> sessionDelegate_;
  std::optional<AuthenticationType> authenticationType_;
  std::optional<std::map<std::string, std::string>> fbUserData_;
  std::shared_ptr<DAZProfileData> zedodoUserData_;
};
