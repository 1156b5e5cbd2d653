#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/foundation/value.h"
#include "signin/daz_sign_in_flow.h"
#include "signin/daz_zedodo_user.h"

class DAZSignIn;

// Receives the end of every sign-in attempt, interactive or silent.
class DAZSignInDelegate {
 public:
  virtual ~DAZSignInDelegate() = default;
  // On success `didSignInForUser` is the new current user and `withError` is absent; on failure the
  // user is nullptr.
  virtual void signIn(const std::shared_ptr<DAZSignIn>& signIn, const std::shared_ptr<DAZZedodoUser>& didSignInForUser,
                      const std::optional<NSError>& withError) = 0;
};

// Where the component presents its own screens (a view controller). Its hooks are all optional and
// come with the component.
class DAZSignInUIDelegate {
 public:
  virtual ~DAZSignInUIDelegate() = default;
};

// The Zedodo sign-in component. Thread-safe; the delegate is called on the main run loop, never
// inside the call that started the attempt.
class DAZSignIn : public std::enable_shared_from_this<DAZSignIn> {
 public:
  // Made on first use, never released.
  static const std::shared_ptr<DAZSignIn>& sharedInstance();

  DAZSignIn() = default;
  virtual ~DAZSignIn() = default;

  // Held weakly.
  std::shared_ptr<DAZSignInDelegate> delegate() const;
  void setDelegate(std::weak_ptr<DAZSignInDelegate> delegate);
  std::shared_ptr<DAZSignInUIDelegate> uiDelegate() const;
  void setUiDelegate(std::weak_ptr<DAZSignInUIDelegate> uiDelegate);

  // The machinery set in place of the component's own; nullptr when there is none.
  std::shared_ptr<DAZSignInFlow> flow() const;
  void setFlow(std::shared_ptr<DAZSignInFlow> flow);

  // The OAuth client id the sign-in flow presents; empty until the service configuration sets it.
  // Without a flow set, a client id turns on the component's own flow over the OAuth 2 toolkit.
  std::string clientID() const;
  void setClientID(std::string clientID);

  // nullptr before a sign-in and after signOut.
  std::shared_ptr<DAZZedodoUser> currentUser() const;

  virtual void signIn();
  virtual void signInSilently();
  // Forgets the current user, the sign-in page's cookies and the component's keychain entries, so
  // that no silent sign-in is possible afterwards. No delegate call.
  virtual void signOut();
  virtual bool handleURL(const URL& url, const std::optional<std::string>& sourceApplication,
                         const std::optional<Value>& annotation);
  virtual bool hasAuthInKeychain() const;

 private:
  // Delivers the attempt's end to the delegate. `endedBySignOut`: a user that arrives after a
  // sign-out is not taken (a restore must not undo the sign-out).
  DAZSignInFlow::Completion finishOnMain(bool endedBySignOut = false);
  // The flow set, else the component's own once there is a client id, else nullptr.
  std::shared_ptr<DAZSignInFlow> activeFlow() const;

  mutable std::mutex mutex_;
  std::weak_ptr<DAZSignInDelegate> delegate_;
  std::weak_ptr<DAZSignInUIDelegate> uiDelegate_;
  std::shared_ptr<DAZSignInFlow> flow_;
  mutable std::shared_ptr<DAZSignInFlow> ownFlow_;
  std::string clientID_;
  std::shared_ptr<DAZZedodoUser> currentUser_;
  std::uint64_t signOuts_ = 0;
};
