#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend/backend_api.h"
#include "backend/transfer_coordinator.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/keychain/keychain_store.h"
#include "services/session_delegate.h"
#include "signin/daz_profile_data.h"
#include "signin/daz_sign_in.h"

class ProfileService;
class UIViewController;

// The signed-in state: the method in force, the three tokens (kept in the keychain only), the
// provider profile data a registration needs, and the login screen as session delegate.
// Main thread only.
//
// Every sign-in operation answers once, on the main run loop, except where a provider user without
// an account is handed to the session delegate, and a cancelled Facebook login, which answer nothing.
// A sign-in whose token the keychain refuses ends there, its failure (or, for Zedodo, the session
// delegate's error) saying where and why.
class AuthenticationManager : public AuthenticationManaging,
                              public DAZSignInDelegate,
                              public std::enable_shared_from_this<AuthenticationManager> {
 public:
  using Success = std::function<void()>;
  using Failure = std::function<void(const std::string& message)>;
  using Schools = std::optional<std::vector<std::int64_t>>;

  static constexpr const char* kFbNoDataMessageKey = "authmanager_error_fb_nodata";
  static constexpr const char* kZedodoNoDataMessageKey = "authmanager_error_zedodo_nodata";
  // A sign-in whose token the keychain refused: where, and why.
  static constexpr const char* kUnsavedSignInMessageKey = "authmanager_error_signin_unsaved";

  static constexpr const char* kAccessTokenKey = "accessToken";
  static constexpr const char* kZedodoTokenKey = "zedodoToken";
  static constexpr const char* kFbTokenKey = "fbToken";

  // Restores the method whose token the keychain holds, the one written last where it holds several;
  // of tokens written at the same or unknown times an access token means Basic, else a Zedodo token
  // Zedodo, else a Facebook token Facebook.
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

  // Keychain reads and writes; writing nothing removes the entry. A refused write is told on
  // standard error.
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
  // The logout of a session the backend refused (401): the session delegate hears why first. When
  // the keychain holds by then another program's sign-in, only this program's ends: nothing is
  // cleared, signed out of or revoked.
  void expireSession(const std::string& message);
  // A Zedodo token valid for at least a minute, stored before `success` gets it. `failure` gets
  // NotSignedIn when the Zedodo component has no user or no grant, or the provider refused the
  // grant; else the refresh's error, the sign-in left as it was. Both run on the main run loop.
  void refreshZedodoToken(std::function<void(std::string token)> success,
                          std::function<void(NSError error)> failure) override;

  // E-mail accounts. The unauthenticated calls (login, register_, recoverPassword) report the error
  // body's message, else the network message, and never log out; the others go through the error
  // handler, where 401 logs out.

  // Stores the token under Basic, then loads the profile as signIn does.
  virtual void login(std::string userName, std::string password, Success success, Failure failure);
  // Loads the profile with the stored token and finishes the sign-in: the other methods' sign-ins
  // end, the new user goes to the profile service and the lecture caches are emptied before success.
  virtual void signIn(Success success, Failure failure);
  // Stores the token under Basic; the profile is loaded by a later signIn.
  virtual void register_(std::string userName, std::string firstName, std::string lastName, std::string password,
                         std::string confirmPassword, Schools schools, Success success, Failure failure);
  // Both move the user to Basic with the returned token; provider tokens stay stored (no sign-in
  // ends here).
  virtual void changePassword(std::string oldPassword, std::string newPassword, Success success, Failure failure);
  virtual void addPassword(std::string newPassword, Success success, Failure failure);
  virtual void recoverPassword(std::string userName, Success success, Failure failure);

  // Facebook and Zedodo. A profile load answered 401 means the provider user has no account: with
  // stored provider data the session delegate is asked to register the user (neither closure runs);
  // without, the provider is signed out and its token removed.

  // Facebook login dialog, then the user's Facebook profile for a later registration.
  virtual void loginWithFacebook(const std::shared_ptr<UIViewController>& viewController, Success success,
                                 Failure failure);
  virtual void signInWithFacebook(Success success, Failure failure);
  virtual void signInWithZedodo(Success success, Failure failure);
  // Creates the account for the signed-in provider user; nothing is stored. Without the provider
  // token nothing is sent and failure gets the provider's no-data message.
  virtual void registerWithFacebook(std::string firstName, std::string lastName, std::string userName, Schools schools,
                                    Success success, Failure failure);
  virtual void registerWithZedodo(std::string firstName, std::string lastName, std::string userName, Schools schools,
                                  Success success, Failure failure);

  // The Zedodo component's report: stores token, method and profile and tells the session delegate.
  // A report that the grant was refused or is gone removes the Zedodo token first.
  void signIn(const std::shared_ptr<DAZSignIn>& signIn, const std::shared_ptr<DAZZedodoUser>& didSignInForUser,
              const std::optional<NSError>& withError) override;

  // The Facebook profile picture address of a Graph user id, on the configured Graph host.
  static std::optional<URL> facebookPictureUrl(const std::string& userId);

 private:
  // The end of this program's sign-in, the keychain left as it is.
  void endSignIn(std::function<void()> completion = {});
  bool keychainHoldsAnotherSignIn() const;
  void finishSignIn(const UserProfileResponse& profile, const Success& success, const Failure& failure);
  // A sign-in by the method in force ends what the other methods stored where they hold something:
  // their tokens, the Facebook token cache, the Zedodo grant (revoked as a sign-out does). So the
  // next start restores the sign-in made last.
  void endOtherSignIns();
  // Unauthenticated calls report the error body's message directly; authenticated ones go through
  // the error handler.
  enum class FailureRule { direct, errorHandler };
  // Nothing when stored; else the failure text, the method left as it was.
  std::optional<std::string> storeBasicToken(const std::optional<std::string>& token);
  // Nothing when the last token written was stored; else the text that ends the sign-in. Without
  // it every later call would go without a token and read as an expired session.
  std::optional<std::string> unsavedSignIn();
  // Stores a reply's token under Basic, then success.
  BackendApi::Completion<LoginResponse> storingBasicToken(FailureRule rule, Success success, Failure failure);
  void fetchFacebookUserData(const std::string& token, Success success, Failure failure);
  void facebookUserMustRegister();
  void zedodoUserMustRegister();
  void registerExternal(std::optional<std::string> token, const char* provider, const char* noDataKey,
                        std::string firstName, std::string lastName, std::string userName, Schools schools,
                        Success success, Failure failure);

  std::weak_ptr<BackendApi> backendApi_;
  std::weak_ptr<ProfileService> profileService_;
  std::shared_ptr<FBSDKLoginManager> fbLoginManager_;
  std::weak_ptr<SessionDelegate> sessionDelegate_;
  std::optional<AuthenticationType> authenticationType_;
  std::optional<std::map<std::string, std::string>> fbUserData_;
  std::shared_ptr<DAZProfileData> zedodoUserData_;
  // Why the keychain refused the last token written, if it did.
  std::optional<KeychainFailure> refusedWrite_;
};
