#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/foundation/value.h"

class DAZSignInUIDelegate;
class DAZZedodoUser;

// The machinery behind DAZSignIn: the browser sign-in with its token exchange, the silent sign-in
// from the keychain, and the keychain itself (the OAuth 2 toolkit's job).
class DAZSignInFlow {
 public:
  // The user on success, else the error; once, on any thread.
  using Completion = std::function<void(std::shared_ptr<DAZZedodoUser> user, std::optional<NSError> error)>;

  virtual ~DAZSignInFlow() = default;

  // Interactive sign-in; its screens are presented over `uiDelegate` (which may be gone).
  virtual void signIn(const std::shared_ptr<DAZSignInUIDelegate>& uiDelegate, Completion completion) = 0;
  // Sign-in from what the keychain keeps, without interaction.
  virtual void signInSilently(Completion completion) = 0;
  // True when `url` answers the pending sign-in (browser callback or the provider app's reply).
  virtual bool handleURL(const URL& url, const std::optional<std::string>& sourceApplication,
                         const std::optional<Value>& annotation) = 0;
  virtual bool hasAuthInKeychain() const = 0;
  // Forgets the sign-in page's cookies and every keychain entry of the component.
  virtual void signOut() = 0;
};
