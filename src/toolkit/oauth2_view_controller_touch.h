#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/net/http_cookie.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/net/url_request.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_view_controller.h"
#include "platform/ui/ui_web_view.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"

class UIActivityIndicatorView;
class UIBarButtonItem;
class UIButton;

inline constexpr const char* kZTKOAuth2WebViewStartedLoading = "kZTKOAuth2WebViewStartedLoading";
inline constexpr const char* kZTKOAuth2WebViewStoppedLoading = "kZTKOAuth2WebViewStoppedLoading";
inline constexpr const char* kZTKOAuth2CookiesWillSwapOut = "kZTKOAuth2CookiesWillSwapOut";
inline constexpr const char* kZTKOAuth2CookiesDidSwapIn = "kZTKOAuth2CookiesDidSwapIn";
inline constexpr const char* kZTKOAuth2WebViewKey = "kZTKOAuth2WebViewKey";
inline constexpr const char* kZTKOAuth2WebViewStopKindKey = "kZTKOAuth2WebViewStopKindKey";
inline constexpr const char* kZTKOAuth2WebViewFinished = "finished";
inline constexpr const char* kZTKOAuth2WebViewFailed = "failed";
inline constexpr const char* kZTKOAuth2WebViewCancelled = "cancelled";

// Shows the provider's sign-in pages in a web view pushed on a navigation controller, drives a
// sign-in flow as its delegate, keeps the sign-in's browser cookies apart from the application's
// while it shows, saves the authorization to the keychain and reports the end once. Main thread
// only. Until its flow ends (or cancelSigningIn), the flow keeps the controller alive.
class ZSDK_ZTKOAuth2ViewControllerTouch : public UIViewController,
                                          public UIWebViewDelegate,
                                          public UINavigationControllerDelegate {
 public:
  using Auth = ZSDK_ZTKOAuth2Authentication;
  using SignIn = ZSDK_ZTKOAuth2SignIn;
  using Controller = ZSDK_ZTKOAuth2ViewControllerTouch;
  using FinishedSelector = std::function<void(const std::shared_ptr<Controller>& controller,
                                              const std::shared_ptr<Auth>& auth, const std::optional<NSError>& error)>;
  using CompletionHandler = FinishedSelector;
  using PopViewBlock = std::function<void()>;

  // The text of the page shown instead of the sign-in while the device clock is before 2011.
  static constexpr const char* kWrongClockPageFormat =
      "<html><body><div align=center><font size='7'>&#x231A; ?<br><i>System Clock Incorrect</i><br>{}</font>"
      "</div></body></html>";
  static constexpr double kWrongClockThreshold = 1293840000.0;

  // --- Creation -------------------------------------------------------------------------------
  static std::shared_ptr<Controller> initWithScope(std::optional<std::string> scope,
                                                   std::optional<std::string> clientID,
                                                   std::optional<std::string> clientSecret,
                                                   std::string keychainItemName, std::shared_ptr<void> delegate,
                                                   FinishedSelector finishedSelector);
  static std::shared_ptr<Controller> initWithScope(std::optional<std::string> scope,
                                                   std::optional<std::string> clientID,
                                                   std::optional<std::string> clientSecret,
                                                   std::string keychainItemName, CompletionHandler handler);
  static std::shared_ptr<Controller> initWithAuthentication(std::shared_ptr<Auth> auth,
                                                            std::optional<URL> authorizationURL,
                                                            std::string keychainItemName,
                                                            std::shared_ptr<void> delegate,
                                                            FinishedSelector finishedSelector);
  static std::shared_ptr<Controller> initWithAuthentication(std::shared_ptr<Auth> auth,
                                                            std::optional<URL> authorizationURL,
                                                            std::string keychainItemName, CompletionHandler handler);
  template <class... Args>
  static std::shared_ptr<Controller> controllerWithScope(Args&&... args) {
    return initWithScope(std::forward<Args>(args)...);
  }
  template <class... Args>
  static std::shared_ptr<Controller> controllerWithAuthentication(Args&&... args) {
    return initWithAuthentication(std::forward<Args>(args)...);
  }

  ZSDK_ZTKOAuth2ViewControllerTouch() = default;

  // The interface file: built in code and registered under authNibName() (registerAuthNib, done
  // by the first controller made). Without it the view is empty and nothing is loaded.
  static std::string authNibName() { return "ZTKOAuth2ViewTouch"; }
  static void registerAuthNib();

  // --- Keychain and flow class (the UI-free helper holds them) --------------------------------
  static std::shared_ptr<Auth> authForZedodoFromKeychainForName(const std::string& keychainItemName,
                                                                const std::optional<std::string>& clientID,
                                                                const std::optional<std::string>& clientSecret,
                                                                std::optional<NSError>* error = nullptr) {
    return ZSDK_ZTKOAuth2KeychainAuth::authForZedodoFromKeychainForName(keychainItemName, clientID, clientSecret,
                                                                        error);
  }
  static bool authorizeFromKeychainForName(const std::string& keychainItemName, const std::shared_ptr<Auth>& auth,
                                           std::optional<NSError>* error = nullptr) {
    return ZSDK_ZTKOAuth2KeychainAuth::authorizeFromKeychainForName(keychainItemName, auth, error);
  }
  static bool saveParamsToKeychainForName(const std::string& keychainItemName,
                                          const std::optional<std::string>& accessibility,
                                          const std::shared_ptr<Auth>& auth, std::optional<NSError>* error = nullptr) {
    return ZSDK_ZTKOAuth2KeychainAuth::saveParamsToKeychainForName(keychainItemName, accessibility, auth, error);
  }
  static bool saveParamsToKeychainForName(const std::string& keychainItemName, const std::shared_ptr<Auth>& auth) {
    return ZSDK_ZTKOAuth2KeychainAuth::saveParamsToKeychainForName(keychainItemName, auth);
  }
  static bool removeAuthFromKeychainForName(const std::string& keychainItemName) {
    return ZSDK_ZTKOAuth2KeychainAuth::removeAuthFromKeychainForName(keychainItemName);
  }
  static ZSDK_ZTKOAuth2KeychainAuth::SignInClass signInClass() { return ZSDK_ZTKOAuth2KeychainAuth::signInClass(); }
  static void setSignInClass(std::optional<ZSDK_ZTKOAuth2KeychainAuth::SignInClass> signInClass) {
    ZSDK_ZTKOAuth2KeychainAuth::setSignInClass(std::move(signInClass));
  }
  static void revokeTokenForZedodoAuthentication(const std::shared_ptr<Auth>& auth) {
    ZSDK_ZTKOAuth2KeychainAuth::revokeTokenForZedodoAuthentication(auth);
  }

  // --- Outlets --------------------------------------------------------------------------------
  const std::shared_ptr<UIButton>& backButton() const { return backButton_; }
  void setBackButton(std::shared_ptr<UIButton> button) { backButton_ = std::move(button); }
  const std::shared_ptr<UIButton>& forwardButton() const { return forwardButton_; }
  void setForwardButton(std::shared_ptr<UIButton> button) { forwardButton_ = std::move(button); }
  const std::shared_ptr<UIActivityIndicatorView>& initialActivityIndicator() const { return initialActivityIndicator_; }
  void setInitialActivityIndicator(std::shared_ptr<UIActivityIndicatorView> view) {
    initialActivityIndicator_ = std::move(view);
  }
  const std::shared_ptr<UIView>& navButtonsView() const { return navButtonsView_; }
  void setNavButtonsView(std::shared_ptr<UIView> view) { navButtonsView_ = std::move(view); }
  const std::shared_ptr<UIBarButtonItem>& rightBarButtonItem() const { return rightBarButtonItem_; }
  void setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { rightBarButtonItem_ = std::move(item); }
  const std::shared_ptr<UIWebView>& webView() const { return webView_; }
  void setWebView(std::shared_ptr<UIWebView> view) { webView_ = std::move(view); }

  // --- Settings -------------------------------------------------------------------------------
  const std::shared_ptr<SignIn>& signIn() const { return signIn_; }
  std::shared_ptr<Auth> authentication() const { return signIn_->authentication(); }
  const std::optional<URLRequest>& request() const { return request_; }
  TimeInterval networkLossTimeoutInterval() const { return signIn_->networkLossTimeoutInterval(); }
  void setNetworkLossTimeoutInterval(TimeInterval seconds) { signIn_->setNetworkLossTimeoutInterval(seconds); }
  const std::string& keychainItemName() const { return keychainItemName_; }
  void setKeychainItemName(std::string name) { keychainItemName_ = std::move(name); }
  bool shouldUseKeychain() const { return !keychainItemName_.empty(); }
  // None: the keychain's default for authorizations.
  const std::optional<std::string>& keychainItemAccessibility() const { return keychainItemAccessibility_; }
  void setKeychainItemAccessibility(std::optional<std::string> value) { keychainItemAccessibility_ = std::move(value); }
  const std::optional<std::string>& initialHTMLString() const { return initialHTMLString_; }
  void setInitialHTMLString(std::optional<std::string> html) { initialHTMLString_ = std::move(html); }
  bool showsInitialActivityIndicator() const;
  void setShowsInitialActivityIndicator(bool shows) { mustShowActivityIndicator_ = shows ? 1 : -1; }
  const std::optional<URL>& browserCookiesURL() const { return browserCookiesURL_; }
  void setBrowserCookiesURL(std::optional<URL> url) { browserCookiesURL_ = std::move(url); }
  const PopViewBlock& popViewBlock() const { return popViewBlock_; }
  void setPopViewBlock(PopViewBlock block) { popViewBlock_ = std::move(block); }
  const CompletionHandler& completionBlock() const { return completionBlock_; }
  std::any userData() const { return userData_; }
  void setUserData(std::any value) { userData_ = std::move(value); }
  // No value removes the key.
  void setProperty(std::optional<std::any> value, const std::string& key);
  std::optional<std::any> propertyForKey(const std::string& key) const;

  // Ends the sign-in without any callback.
  void cancelSigningIn();

  // --- Flow delegate --------------------------------------------------------------------------
  // Shows `request`; none closes the window.
  void signInDisplayRequest(const std::shared_ptr<SignIn>& signIn, const std::optional<URLRequest>& request);
  void signInFinishedWithAuth(const std::shared_ptr<SignIn>& signIn, const std::shared_ptr<Auth>& auth,
                              const std::optional<NSError>& error);

  // --- Web view delegate ----------------------------------------------------------------------
  bool shouldStartLoadWithRequest(UIWebView& webView, const URLRequest& request,
                                  UIWebViewNavigationType navigationType) override;
  void webViewDidStartLoad(UIWebView& webView) override;
  void webViewDidFinishLoad(UIWebView& webView) override;
  void didFailLoadWithError(UIWebView& webView, const NSError& error) override;

  // --- View lifecycle -------------------------------------------------------------------------
  void loadView() override;
  void viewDidLoad() override;
  void viewDidLayoutSubviews() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  // Puts `cookies` into the shared cookie storage in place of what it held, which is returned.
  static std::vector<HTTPCookie> swapBrowserCookies(const std::vector<HTTPCookie>& cookies);
  // False when `controller` (or a container of it) is leaving rather than being covered.
  static bool isBeingObscured(const std::shared_ptr<UIViewController>& controller);
  void popView();

 private:
  void initialize(std::shared_ptr<Auth> auth, std::optional<URL> authorizationURL, std::string keychainItemName,
                  std::shared_ptr<void> delegate, FinishedSelector finishedSelector);
  void notifyWithName(const char* name, const std::optional<std::string>& kind);
  void updateUI();
  void moveWebViewFromUnderNavigationBar();
  void swapOutCookies();
  void swapInCookies();
  void popViewLater();

  std::shared_ptr<UIButton> backButton_;
  std::shared_ptr<UIButton> forwardButton_;
  std::shared_ptr<UIActivityIndicatorView> initialActivityIndicator_;
  std::shared_ptr<UIView> navButtonsView_;
  std::shared_ptr<UIBarButtonItem> rightBarButtonItem_;
  std::shared_ptr<UIWebView> webView_;

  std::shared_ptr<SignIn> signIn_;
  std::optional<URLRequest> request_;
  std::shared_ptr<void> delegate_;
  FinishedSelector finishedSelector_;
  CompletionHandler completionBlock_;
  PopViewBlock popViewBlock_;
  std::string keychainItemName_;
  std::optional<std::string> keychainItemAccessibility_;
  std::optional<std::string> initialHTMLString_;
  int mustShowActivityIndicator_ = 0;  // 1 yes, -1 no, 0 not set
  std::optional<URL> browserCookiesURL_;
  std::any userData_;
  std::map<std::string, std::any> properties_;
  bool isViewShown_ = false;
  bool didViewAppear_ = false;
  bool hasNotifiedWebViewStartedLoading_ = false;
  bool hasCalledFinished_ = false;
  bool hasDoneFinalRedirect_ = false;
  bool didDismissSelf_ = false;
  bool hasMovedWebView_ = false;
  // The application's accept policy while the controller shows (none: nothing saved).
  std::optional<HTTPCookieAcceptPolicy> savedCookiePolicy_;
  std::vector<HTTPCookie> systemCookies_;
  std::vector<HTTPCookie> signInCookies_;
};
