#include "signin/daz_sign_in.h"

#include "platform/foundation/run_loop.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "signin/daz_oauth2_sign_in_flow.h"
#include "signin/daz_sign_in_error.h"

const std::shared_ptr<DAZSignIn>& DAZSignIn::sharedInstance() {
  static const auto* shared = new std::shared_ptr<DAZSignIn>(std::make_shared<DAZSignIn>());
  return *shared;
}

std::shared_ptr<DAZSignInDelegate> DAZSignIn::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void DAZSignIn::setDelegate(std::weak_ptr<DAZSignInDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<DAZSignInUIDelegate> DAZSignIn::uiDelegate() const {
  std::lock_guard lock(mutex_);
  return uiDelegate_.lock();
}

void DAZSignIn::setUiDelegate(std::weak_ptr<DAZSignInUIDelegate> uiDelegate) {
  std::lock_guard lock(mutex_);
  uiDelegate_ = std::move(uiDelegate);
}

std::shared_ptr<DAZSignInFlow> DAZSignIn::flow() const {
  std::lock_guard lock(mutex_);
  return flow_;
}

void DAZSignIn::setFlow(std::shared_ptr<DAZSignInFlow> flow) {
  std::lock_guard lock(mutex_);
  flow_ = std::move(flow);
}

std::shared_ptr<DAZSignInFlow> DAZSignIn::activeFlow() const {
  std::lock_guard lock(mutex_);
  if (flow_) return flow_;
  if (clientID_.empty()) return nullptr;
  if (!ownFlow_) {
    DAZOAuth2SignInFlow::configureProviderFromEnvironment();
    std::weak_ptr<const DAZSignIn> weak = weak_from_this();
    ownFlow_ = std::make_shared<DAZOAuth2SignInFlow>([weak] {
      auto self = weak.lock();
      return self ? self->clientID() : std::string();
    });
  }
  return ownFlow_;
}

std::string DAZSignIn::clientID() const {
  std::lock_guard lock(mutex_);
  return clientID_;
}

void DAZSignIn::setClientID(std::string clientID) {
  std::lock_guard lock(mutex_);
  clientID_ = std::move(clientID);
}

std::shared_ptr<DAZZedodoUser> DAZSignIn::currentUser() const {
  std::lock_guard lock(mutex_);
  return currentUser_;
}

DAZSignInFlow::Completion DAZSignIn::finishOnMain(bool endedBySignOut) {
  auto once = std::make_shared<std::once_flag>();
  std::optional<std::uint64_t> signOuts;
  if (endedBySignOut) {
    std::lock_guard lock(mutex_);
    signOuts = signOuts_;
  }
  return [self = shared_from_this(), once, signOuts](std::shared_ptr<DAZZedodoUser> user,
                                                     std::optional<NSError> error) {
    std::call_once(*once, [&] {
      if (!error && !user) error = dazSignInError(DAZSignInErrorCode::Unknown, "The sign-in delivered no user.");
      if (error) user = nullptr;
      RunLoop::main().post([self, signOuts, user = std::move(user), error = std::move(error)]() mutable {
        {
          std::lock_guard lock(self->mutex_);
          if (user && signOuts && *signOuts != self->signOuts_) {
            user = nullptr;
            error = dazSignedOutError();
          }
          if (user) self->currentUser_ = user;
        }
        if (auto delegate = self->delegate()) delegate->signIn(self, user, error);
        // What the keychain would not save lasts as long as the user the delegate kept.
        const bool kept = user && self->currentUser() == user;
        settleUnsavedSignIns(kept ? UnsavedSignIn::LastsUntilTheProgramEnds : UnsavedSignIn::NotKept);
      });
    });
  };
}

void DAZSignIn::signIn() {
  auto finish = finishOnMain();
  auto flow = activeFlow();
  if (!flow) {
    finish(nullptr, dazSignInError(DAZSignInErrorCode::Unknown, "Zedodo sign-in is not available."));
    return;
  }
  flow->signIn(uiDelegate(), std::move(finish));
}

void DAZSignIn::signInSilently() {
  auto finish = finishOnMain(true);
  auto flow = activeFlow();
  if (!flow) {
    finish(nullptr, dazSignInError(DAZSignInErrorCode::HasNoAuthInKeychain, "No previous Zedodo sign-in is stored."));
    return;
  }
  flow->signInSilently(std::move(finish));
}

void DAZSignIn::signOut() {
  std::shared_ptr<DAZZedodoUser> previous;
  std::shared_ptr<DAZSignInFlow> flow;
  {
    std::lock_guard lock(mutex_);
    previous = std::move(currentUser_);
    currentUser_ = nullptr;
    ++signOuts_;
  }
  flow = activeFlow();
  if (flow) flow->signOut();
}

bool DAZSignIn::handleURL(const URL& url, const std::optional<std::string>& sourceApplication,
                          const std::optional<Value>& annotation) {
  auto flow = activeFlow();
  return flow && flow->handleURL(url, sourceApplication, annotation);
}

bool DAZSignIn::hasAuthInKeychain() const {
  auto flow = activeFlow();
  return flow && flow->hasAuthInKeychain();
}
