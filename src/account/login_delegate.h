#pragma once

// How a registration screen, having popped itself after a successful registration, asks the login
// screen to sign the new user in. Held weakly.
class LoginDelegate {
 public:
  virtual ~LoginDelegate() = default;

  // With the stored Facebook token.
  virtual void shouldSignInWithFacebook() = 0;
  // With the stored Zedodo token.
  virtual void shouldSignInWithZedodo() = 0;
  // With the stored e-mail token.
  virtual void shouldSignIn() = 0;
};
