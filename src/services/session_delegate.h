#pragma once

#include <optional>
#include <string>

#include "platform/foundation/url.h"

// How the authentication manager drives the login screen. Held weakly.
class SessionDelegate {
 public:
  virtual ~SessionDelegate() = default;

  // The signed-in state has just been cleared.
  virtual void userDidLogout() = 0;
  // The backend ended the session (401): `message` says so. Comes just before the logout, so that
  // the delegate can keep it for the screen the user lands on.
  virtual void sessionWillExpire(const std::string& /*message*/) {}
  // A Zedodo user without an account; `name` is the Zedodo display name.
  virtual void userMustRegister(const std::string& name, const std::string& email,
                                const std::optional<URL>& pictureUrl) = 0;
  // A Facebook user without an account.
  virtual void userMustRegister(const std::string& firstName, const std::string& lastName, const std::string& email,
                                const std::optional<URL>& pictureUrl) = 0;
  // The Zedodo sign-in reported a user and its token is stored.
  virtual void userSignedInWithZedodo() = 0;
  // The Zedodo sign-in reported an error (its localized description).
  virtual void zedodoSigninError(const std::string& error) = 0;
};
