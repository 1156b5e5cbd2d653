#include "services/authentication_manager.h"

#include "app/progress_indicator_helper.h"
#include "platform/foundation/run_loop.h"
#include "platform/keychain/keychain_wrapper.h"
#include "signin/daz_sign_in.h"

namespace {

std::optional<std::string> readToken(const char* key) { return KeychainWrapper::standard().stringForKey(key); }

void writeToken(const char* key, const std::optional<std::string>& token) {
  // A refused write shows in the next read; there is nothing better to do about it here.
  if (token) {
    KeychainWrapper::standard().setString(*token, key);
  } else {
    KeychainWrapper::standard().removeObjectForKey(key);
  }
}

}  // namespace

AuthenticationManager::AuthenticationManager() : fbLoginManager_(std::make_shared<FBSDKLoginManager>()) {
  if (readToken(kAccessTokenKey)) {
    authenticationType_ = AuthenticationType::Basic;
  } else if (readToken(kZedodoTokenKey)) {
    authenticationType_ = AuthenticationType::Zedodo;
  } else if (readToken(kFbTokenKey)) {
    authenticationType_ = AuthenticationType::Facebook;
  }
  fbLoginManager_->setLoginBehavior(FBSDKLoginBehavior::Web);
}

std::optional<std::string> AuthenticationManager::accessToken() const { return readToken(kAccessTokenKey); }
void AuthenticationManager::setAccessToken(const std::optional<std::string>& token) { writeToken(kAccessTokenKey, token); }
std::optional<std::string> AuthenticationManager::zedodoToken() const { return readToken(kZedodoTokenKey); }
void AuthenticationManager::setZedodoToken(const std::optional<std::string>& token) { writeToken(kZedodoTokenKey, token); }
std::optional<std::string> AuthenticationManager::fbToken() const { return readToken(kFbTokenKey); }
void AuthenticationManager::setFbToken(const std::optional<std::string>& token) { writeToken(kFbTokenKey, token); }

void AuthenticationManager::logout(std::function<void()> completion) {
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  setAccessToken(std::nullopt);
  setFbToken(std::nullopt);
  setZedodoToken(std::nullopt);
  authenticationType_.reset();
  if (fbLoginManager_) fbLoginManager_->logOut();
  DAZSignIn::sharedInstance()->signOut();
  if (completion) completion();
  if (auto delegate = sessionDelegate()) delegate->userDidLogout();
}

void AuthenticationManager::refreshZedodoToken(std::function<void(std::string token)> success,
                                               std::function<void()> failure) {
  auto user = DAZSignIn::sharedInstance()->currentUser();
  if (!user) {
    RunLoop::main().post([failure] {
      if (failure) failure();
    });
    return;
  }
  user->authentication()->getAccessTokenWithHandler(
      [weak = weak_from_this(), success, failure](std::optional<std::string> token, std::optional<NSError> error) {
        if (error || !token) {
          if (failure) failure();
          return;
        }
        if (auto self = weak.lock()) self->setZedodoToken(token);
        if (success) success(*token);
      });
}
