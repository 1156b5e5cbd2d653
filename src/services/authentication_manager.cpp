#include "services/authentication_manager.h"

#include <utility>

#include "app/progress_indicator_helper.h"
#include "backend/error_handler.h"
#include "model/user.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/localized_format.h"
#include "platform/foundation/run_loop.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_graph_request.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/keychain/keychain_wrapper.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "services/lecture_service.h"
#include "services/profile_service.h"
#include "services/reply_models.h"
#include "services/service_locator.h"
#include "signin/daz_oauth2_support.h"
#include "signin/daz_sign_in.h"
#include "signin/daz_sign_in_error.h"

namespace {

struct TokenKey {
  AuthenticationType method;
  const char* key;
};
// The order that settles which of two tokens written at the same time (or at unknown times) a start
// restores.
constexpr TokenKey kTokenKeys[] = {{AuthenticationType::Basic, AuthenticationManager::kAccessTokenKey},
                                   {AuthenticationType::Zedodo, AuthenticationManager::kZedodoTokenKey},
                                   {AuthenticationType::Facebook, AuthenticationManager::kFbTokenKey}};

// Where the backend's tokens are kept: losing one signs the user out.
const KeychainWrapper& tokenKeychain() {
  static const bool noted = [] {
    for (const auto& token : kTokenKeys)
      KeychainStore::noteHoldsSignIn(KeychainWrapper::kStandardServiceName, token.key);
    return true;
  }();
  (void)noted;
  return KeychainWrapper::standard();
}

std::optional<std::string> readToken(const char* key) { return tokenKeychain().stringForKey(key); }

// The method a start restores from the keychain: the one whose token was written last. A sign-in
// ends the other methods' tokens, but earlier versions left them, and a password change keeps them.
std::optional<AuthenticationType> storedMethod() {
  std::optional<AuthenticationType> method;
  std::optional<KeychainStamp> newest;
  for (const auto& token : kTokenKeys) {
    if (!readToken(token.key)) continue;
    const auto written = tokenKeychain().modificationStampForKey(token.key);
    if (method && !(written && newest && *written > *newest)) continue;
    method = token.method;
    newest = written;
  }
  return method;
}

// Nothing when stored (or removed); else why the keychain refused the token, which standard error
// hears too, with how long the sign-in lasts then. A token already stored is not written again: a
// full disk must not make a restored sign-in read as unsaved.
std::optional<KeychainFailure> writeToken(const char* key, const std::optional<std::string>& token,
                                          UnsavedSignIn ending = UnsavedSignIn::LastsUntilTheProgramEnds) {
  if (!token) {
    tokenKeychain().removeObjectForKey(key);
    return std::nullopt;
  }
  if (readToken(key) == token || tokenKeychain().setString(*token, key)) return std::nullopt;
  return reportUnsavedSignIn(ending);
}

using Reply = std::optional<TransferError<ErrorResponse>>;

// The failure text of a call made without authorization: the backend's message, else the network
// message. No logout, whatever the status.
std::string directMessage(const Reply& error) {
  if (error && error->response && error->response->message) return *error->response->message;
  return ErrorMessages::networkErrorMessage();
}

bool isUnauthorized(const Reply& error) { return error && error->statusCode == 401; }

// There was no Zedodo grant to renew, or the provider refused it. Any other failure (no answer, a
// busy or broken provider) leaves the grant for a later call to renew.
bool zedodoGrantEnded(const NSError& error) {
  const bool noGrant =
      error.domain == DAZSignInErrorDomain && error.code == static_cast<long>(DAZSignInErrorCode::HasNoAuthInKeychain);
  return noGrant || daz_oauth2::grantWasRefused(error);
}

NSError renewalFailure(NSError error) {
  if (zedodoGrantEnded(error)) return TransferCoordinator::notSignedInError();
  return error;
}

const std::vector<std::string> kFacebookReadPermissions = {"public_profile", "email"};
const char* const kFacebookUserDataKeys[] = {"email", "first_name", "last_name", "id"};

std::string valueOrEmpty(const std::optional<std::string>& text) { return text.value_or(std::string()); }

}  // namespace

AuthenticationManager::AuthenticationManager()
    : fbLoginManager_(std::make_shared<FBSDKLoginManager>()), authenticationType_(storedMethod()) {
  fbLoginManager_->setLoginBehavior(FBSDKLoginBehavior::Web);
}

std::optional<std::string> AuthenticationManager::accessToken() const { return readToken(kAccessTokenKey); }
void AuthenticationManager::setAccessToken(const std::optional<std::string>& token) {
  refusedWrite_ = writeToken(kAccessTokenKey, token);
}
std::optional<std::string> AuthenticationManager::zedodoToken() const { return readToken(kZedodoTokenKey); }
void AuthenticationManager::setZedodoToken(const std::optional<std::string>& token) {
  refusedWrite_ = writeToken(kZedodoTokenKey, token);
}
std::optional<std::string> AuthenticationManager::fbToken() const { return readToken(kFbTokenKey); }
void AuthenticationManager::setFbToken(const std::optional<std::string>& token) {
  refusedWrite_ = writeToken(kFbTokenKey, token);
}

std::optional<std::string> AuthenticationManager::unsavedSignIn() {
  const auto refused = std::exchange(refusedWrite_, std::nullopt);
  if (!refused) return std::nullopt;
  return localizedStringWithFormat(NSLocalizedString(kUnsavedSignInMessageKey), {refused->place, refused->reason});
}

void AuthenticationManager::logout(std::function<void()> completion) {
  setAccessToken(std::nullopt);
  setFbToken(std::nullopt);
  setZedodoToken(std::nullopt);
  if (fbLoginManager_) fbLoginManager_->logOut();
  DAZSignIn::sharedInstance()->signOut();
  endSignIn(std::move(completion));
}

void AuthenticationManager::endSignIn(std::function<void()> completion) {
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  authenticationType_.reset();
  if (completion) completion();
  if (auto delegate = sessionDelegate()) delegate->userDidLogout();
}

void AuthenticationManager::expireSession(const std::string& message) {
  if (auto delegate = sessionDelegate()) delegate->sessionWillExpire(message);
  // Another program on the same keychain signed in meanwhile: its sign-in is not ours to end.
  if (keychainHoldsAnotherSignIn()) return endSignIn();
  logout();
}

bool AuthenticationManager::keychainHoldsAnotherSignIn() const {
  const auto stored = storedMethod();
  if (!stored) return false;
  if (stored != authenticationType_) return true;
  // E-mail and Facebook calls carry whatever token the keychain holds; a Zedodo session its own,
  // and without a session nothing tells the stored token ours.
  if (*stored != AuthenticationType::Zedodo) return false;
  const auto user = DAZSignIn::sharedInstance()->currentUser();
  return !user || user->authentication()->accessToken() != zedodoToken();
}

void AuthenticationManager::refreshZedodoToken(std::function<void(std::string token)> success,
                                               std::function<void(NSError error)> failure) {
  auto user = DAZSignIn::sharedInstance()->currentUser();
  if (!user) {
    RunLoop::main().post([failure] {
      if (failure) failure(TransferCoordinator::notSignedInError());
    });
    return;
  }
  user->authentication()->getAccessTokenWithHandler(
      [weak = weak_from_this(), success, failure](std::optional<std::string> token, std::optional<NSError> error) {
        if (error || !token) {
          if (failure)
            failure(renewalFailure(error.value_or(dazSignInError(DAZSignInErrorCode::Unknown, "No token renewed."))));
          return;
        }
        if (auto self = weak.lock()) self->setZedodoToken(token);
        if (success) success(*token);
      });
}

// E-mail accounts.

std::optional<std::string> AuthenticationManager::storeBasicToken(const std::optional<std::string>& token) {
  refusedWrite_ = writeToken(kAccessTokenKey, token, UnsavedSignIn::NotKept);
  if (auto unsaved = unsavedSignIn()) return unsaved;
  authenticationType_ = AuthenticationType::Basic;
  return std::nullopt;
}

BackendApi::Completion<LoginResponse> AuthenticationManager::storingBasicToken(FailureRule rule, Success success,
                                                                               Failure failure) {
  return [weak = weak_from_this(), rule, success = std::move(success), failure = std::move(failure)](
             std::optional<LoginResponse> reply, Reply error) {
    auto self = weak.lock();
    if (!reply || !self) {
      if (rule == FailureRule::direct) return failure(directMessage(error));
      return ErrorHandler::handleError(error, failure);
    }
    if (auto unsaved = self->storeBasicToken(reply->token)) return failure(*unsaved);
    success();
  };
}

void AuthenticationManager::login(std::string userName, std::string password, Success success, Failure failure) {
  backendApi()->login(std::move(userName), std::move(password),
                      [weak = weak_from_this(), success = std::move(success), failure = std::move(failure)](
                          std::optional<LoginResponse> reply, Reply error) {
                        auto self = weak.lock();
                        if (!reply || !self) return failure(directMessage(error));
                        if (auto unsaved = self->storeBasicToken(reply->token)) return failure(*unsaved);
                        self->signIn(success, failure);
                      });
}

void AuthenticationManager::signIn(Success success, Failure failure) {
  backendApi()->getUserProfile([weak = weak_from_this(), success = std::move(success), failure = std::move(failure)](
                                   std::optional<UserProfileResponse> reply, Reply error) {
    auto self = weak.lock();
    if (!reply || !self) return ErrorHandler::handleError(error, failure);
    self->finishSignIn(*reply, success, failure);
  });
}

void AuthenticationManager::finishSignIn(const UserProfileResponse& profile, const Success& success,
                                         const Failure& failure) {
  auto user = User::init(profile);
  // A profile without a needed value must not become the signed-in user.
  if (!user) return failWithNetworkMessage(failure);
  endOtherSignIns();
  if (auto service = profileService()) service->setUser(std::move(user));
  ServiceLocator::shared().lectureService()->clearCache();
  success();
}

void AuthenticationManager::endOtherSignIns() {
  if (!authenticationType_) return;
  const auto method = *authenticationType_;
  if (method != AuthenticationType::Basic && accessToken()) writeToken(kAccessTokenKey, std::nullopt);
  if (method != AuthenticationType::Facebook && (fbToken() || FBSDKAccessToken::currentAccessToken())) {
    writeToken(kFbTokenKey, std::nullopt);
    if (fbLoginManager_) fbLoginManager_->logOut();
  }
  const auto& zedodo = DAZSignIn::sharedInstance();
  if (method != AuthenticationType::Zedodo && (zedodoToken() || zedodo->currentUser() || zedodo->hasAuthInKeychain())) {
    writeToken(kZedodoTokenKey, std::nullopt);
    // Revoked at the provider as far as it can be reached; the grant is forgotten here either way.
    zedodo->signOut();
  }
}

void AuthenticationManager::register_(std::string userName, std::string firstName, std::string lastName,
                                      std::string password, std::string confirmPassword, Schools schools,
                                      Success success, Failure failure) {
  backendApi()->register_(std::move(userName), std::move(firstName), std::move(lastName), std::move(password),
                          std::move(confirmPassword), std::move(schools),
                          storingBasicToken(FailureRule::direct, std::move(success), std::move(failure)));
}

void AuthenticationManager::changePassword(std::string oldPassword, std::string newPassword, Success success,
                                           Failure failure) {
  backendApi()->changePassword(std::move(oldPassword), std::move(newPassword),
                               storingBasicToken(FailureRule::errorHandler, std::move(success), std::move(failure)));
}

void AuthenticationManager::addPassword(std::string newPassword, Success success, Failure failure) {
  backendApi()->addPassword(std::move(newPassword),
                            storingBasicToken(FailureRule::errorHandler, std::move(success), std::move(failure)));
}

void AuthenticationManager::recoverPassword(std::string userName, Success success, Failure failure) {
  backendApi()->recoverPassword(std::move(userName), [success = std::move(success), failure = std::move(failure)](
                                                         std::optional<EmptyPayload> reply, Reply error) {
    if (!reply) return failure(directMessage(error));
    success();
  });
}

// Facebook.

void AuthenticationManager::loginWithFacebook(const std::shared_ptr<UIViewController>& viewController, Success success,
                                              Failure failure) {
  if (!fbLoginManager_) return postNetworkFailure(std::move(failure));
  fbLoginManager_->logInWithReadPermissions(
      kFacebookReadPermissions, viewController,
      [weak = weak_from_this(), success = std::move(success), failure = std::move(failure)](
          std::shared_ptr<FBSDKLoginManagerLoginResult> result, std::optional<NSError> error) {
        if (error) return failure(error->localizedDescription());
        if (result && result->isCancelled()) return;
        auto self = weak.lock();
        // Neither a token nor an error is not something the SDK does; never leave the screen waiting.
        if (!self || !result || !result->token()) return failWithNetworkMessage(failure);
        const std::string token = result->token()->tokenString();
        self->refusedWrite_ = writeToken(kFbTokenKey, token, UnsavedSignIn::NotKept);
        if (auto unsaved = self->unsavedSignIn()) return failure(*unsaved);
        self->authenticationType_ = AuthenticationType::Facebook;
        self->fetchFacebookUserData(token, success, failure);
      });
}

void AuthenticationManager::fetchFacebookUserData(const std::string& token, Success success, Failure failure) {
  FBSDKGraphRequest request("me", {{"fields", "email,first_name,last_name,picture"}}, token, std::nullopt, "GET");
  request.startWithCompletionHandler([weak = weak_from_this(), success = std::move(success),
                                      failure = std::move(failure)](const std::shared_ptr<FBSDKGraphRequestConnection>&,
                                                                    const std::optional<Value::Dictionary>& result,
                                                                    const std::optional<NSError>& error) {
    if (error) return failure(error->description());
    auto self = weak.lock();
    if (!self || !result) return failWithNetworkMessage(failure);
    std::map<std::string, std::string> data;
    for (const char* key : kFacebookUserDataKeys) {
      auto found = result->find(key);
      if (found == result->end()) continue;
      if (const std::string* text = found->second.asString()) data[key] = *text;
    }
    self->fbUserData_ = std::move(data);
    success();
  });
}

std::optional<URL> AuthenticationManager::facebookPictureUrl(const std::string& userId) {
  return URL::URLWithString(FBSDKSettings::graphBaseURL() + userId + "/picture?type=large");
}

void AuthenticationManager::signInWithFacebook(Success success, Failure failure) {
  backendApi()->getUserProfile([weak = weak_from_this(), success = std::move(success), failure = std::move(failure)](
                                   std::optional<UserProfileResponse> reply, Reply error) {
    auto self = weak.lock();
    if (!self) return failWithNetworkMessage(failure);
    if (isUnauthorized(error)) {
      if (self->fbUserData_) return self->facebookUserMustRegister();
      if (self->fbLoginManager_) self->fbLoginManager_->logOut();
      self->setFbToken(std::nullopt);
      return failure(NSLocalizedString(kFbNoDataMessageKey, ""));
    }
    if (!reply) return failure(directMessage(error));
    self->finishSignIn(*reply, success, failure);
  });
}

void AuthenticationManager::facebookUserMustRegister() {
  auto data = std::move(*fbUserData_);
  fbUserData_.reset();
  auto delegate = sessionDelegate();
  if (!delegate) return;
  // The user may have declined the e-mail permission; the registration screen lets them type it.
  auto value = [&data](const char* key) {
    auto found = data.find(key);
    return found == data.end() ? std::string() : found->second;
  };
  auto id = data.find("id");
  std::optional<URL> picture = id == data.end() ? std::nullopt : facebookPictureUrl(id->second);
  delegate->userMustRegister(value("first_name"), value("last_name"), value("email"), picture);
}

void AuthenticationManager::registerWithFacebook(std::string firstName, std::string lastName, std::string userName,
                                                 Schools schools, Success success, Failure failure) {
  registerExternal(fbToken(), "facebook", kFbNoDataMessageKey, std::move(firstName), std::move(lastName),
                   std::move(userName), std::move(schools), std::move(success), std::move(failure));
}

// Zedodo.

void AuthenticationManager::signIn(const std::shared_ptr<DAZSignIn>& component,
                                   const std::shared_ptr<DAZZedodoUser>& user, const std::optional<NSError>& error) {
  if (error || !user) {
    // A token whose grant is gone can never be renewed: the next start must not take it up.
    if (error && zedodoGrantEnded(*error) && !component->hasAuthInKeychain() && zedodoToken())
      writeToken(kZedodoTokenKey, std::nullopt);
    if (auto delegate = sessionDelegate())
      delegate->zedodoSigninError(error ? error->localizedDescription() : ErrorMessages::networkErrorMessage());
    return;
  }
  refusedWrite_ = writeToken(kZedodoTokenKey, user->authentication()->accessToken(), UnsavedSignIn::NotKept);
  if (auto unsaved = unsavedSignIn()) {
    if (auto delegate = sessionDelegate()) delegate->zedodoSigninError(*unsaved);
    return;
  }
  authenticationType_ = AuthenticationType::Zedodo;
  zedodoUserData_ = user->profile();
  if (auto delegate = sessionDelegate()) delegate->userSignedInWithZedodo();
}

void AuthenticationManager::signInWithZedodo(Success success, Failure failure) {
  backendApi()->getUserProfile([weak = weak_from_this(), success = std::move(success), failure = std::move(failure)](
                                   std::optional<UserProfileResponse> reply, Reply error) {
    auto self = weak.lock();
    if (!self) return failWithNetworkMessage(failure);
    if (isUnauthorized(error)) {
      if (self->zedodoUserData_) return self->zedodoUserMustRegister();
      DAZSignIn::sharedInstance()->signOut();
      self->setZedodoToken(std::nullopt);
      return failure(NSLocalizedString(kZedodoNoDataMessageKey, ""));
    }
    if (!reply) return failure(directMessage(error));
    self->finishSignIn(*reply, success, failure);
  });
}

void AuthenticationManager::zedodoUserMustRegister() {
  auto profile = std::move(zedodoUserData_);
  auto delegate = sessionDelegate();
  if (!delegate) return;
  delegate->userMustRegister(valueOrEmpty(profile->name()), valueOrEmpty(profile->email()),
                             profile->imageURLWithDimension(300));
}

void AuthenticationManager::registerWithZedodo(std::string firstName, std::string lastName, std::string userName,
                                               Schools schools, Success success, Failure failure) {
  registerExternal(zedodoToken(), "zedodo", kZedodoNoDataMessageKey, std::move(firstName), std::move(lastName),
                   std::move(userName), std::move(schools), std::move(success), std::move(failure));
}

void AuthenticationManager::registerExternal(std::optional<std::string> token, const char* provider,
                                             const char* noDataKey, std::string firstName, std::string lastName,
                                             std::string userName, Schools schools, Success success, Failure failure) {
  if (!token) {
    RunLoop::main().post(
        [failure = std::move(failure), message = NSLocalizedString(noDataKey, "")] { failure(message); });
    return;
  }
  backendApi()->externalRegister(
      std::move(userName), std::move(firstName), std::move(lastName), std::move(*token), provider, std::move(schools),
      [success = std::move(success), failure = std::move(failure)](std::optional<LoginResponse> reply, Reply error) {
        if (!reply) return failure(directMessage(error));
        success();
      });
}
