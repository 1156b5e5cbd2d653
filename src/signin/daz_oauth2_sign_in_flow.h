#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "signin/daz_oauth2_stored_grant.h"
#include "signin/daz_sign_in_flow.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/session_fetcher_service.h"

class LoopbackRedirectReceiver;
class ZSDK_ZTKOAuth2SignIn;

// Zedodo sign-in over the OAuth 2 toolkit. The interactive sign-in opens the provider's page in
// the user's browser and takes the answer on a loopback redirect (http://127.0.0.1:PORT/...),
// guarded by `state` and PKCE (S256); the authorization is saved to the keychain, from which the
// silent sign-in restores it with one token refresh. A sign-in waiting for the browser can be given
// up (BrowserSignIns). Runs its work on the main run loop.
class DAZOAuth2SignInFlow : public DAZSignInFlow, public std::enable_shared_from_this<DAZOAuth2SignInFlow> {
 public:
  // The provider's base address (scheme, host, port and an optional path before the endpoints'
  // paths) for every endpoint, in place of the production hosts.
  static constexpr const char* kProviderURLVariable = "DORVALE_ZEDODO_URL";
  using Environment = std::function<const char*(const char*)>;
  // Points the toolkit's provider hosts at $DORVALE_ZEDODO_URL when it is set; false when it is
  // set but is no http(s) address (the hosts stay as they were).
  static bool configureProviderFromEnvironment(const Environment& environment = std::getenv);

  using ClientID = std::function<std::string()>;
  // Shows the authorization page (the user's browser unless a test installs another) and tells the
  // user where the sign-in waits; false when no browser came up.
  using PageOpener = std::function<bool(const URL&)>;

  // `clientID` is asked at the start of every sign-in. An interactive sign-in not answered within
  // `browserTimeout` seconds ends as cancelled. A renewal of the stored grant waits at most
  // `keychainLockTimeout` seconds for another program renewing it, then goes on without waiting.
  explicit DAZOAuth2SignInFlow(ClientID clientID, PageOpener opener = {}, TimeInterval browserTimeout = 300,
                               TimeInterval keychainLockTimeout = 10);
  ~DAZOAuth2SignInFlow() override;

  void signIn(const std::shared_ptr<DAZSignInUIDelegate>& uiDelegate, Completion completion) override;
  void signInSilently(Completion completion) override;
  bool handleURL(const URL& url, const std::optional<std::string>& sourceApplication,
                 const std::optional<Value>& annotation) override;
  bool hasAuthInKeychain() const override;
  void signOut() override;

 private:
  struct Pending;
  struct Answer;
  using Auth = ZSDK_ZTKOAuth2Authentication;

  void startInteractive(Completion completion);
  void receiverAnswered(std::uint64_t attempt, const std::optional<URL>& redirect);
  void interactiveFinished(std::uint64_t attempt, const std::shared_ptr<Auth>& auth,
                           const std::optional<NSError>& error);
  std::shared_ptr<Pending> takePending(std::optional<std::uint64_t> attempt = std::nullopt);
  void failPending(const std::shared_ptr<Pending>& pending, NSError error);
  void startSilent(Completion completion);
  void silentFinished(const DAZOAuth2StoredGrant::Outcome& outcome, const Completion& completion);
  std::shared_ptr<DAZZedodoUser> userFor(const std::shared_ptr<Auth>& auth, const Value::Dictionary& profile);
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service();

  const ClientID clientID_;
  const PageOpener opener_;
  const TimeInterval browserTimeout_;
  const TimeInterval keychainLockTimeout_;
  mutable std::mutex mutex_;
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service_;
  std::shared_ptr<Pending> pending_;
  std::uint64_t attempts_ = 0;
};
