#include "toolkit/oauth2_view_controller_touch.h"

#include <fmt/format.h>

#include "platform/foundation/notification_center.h"
#include "platform/foundation/run_loop.h"
#include "platform/foundation/value.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "platform/net/url_error.h"
#include "platform/ui/ui_activity_indicator_view.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_nib.h"
#include "platform/ui/ui_screen.h"

using Controller = ZSDK_ZTKOAuth2ViewControllerTouch;

namespace {

constexpr TimeInterval kDelay = 0.5;

// Runs `action` on the controller after the web controller's delay, unless it is gone by then.
void later(const std::shared_ptr<Controller>& controller, std::function<void(Controller&)> action) {
  std::weak_ptr<Controller> weak = controller;
  RunLoop::main().scheduledTimer(kDelay, false, [weak, action = std::move(action)](Timer&) {
    if (auto self = weak.lock()) action(*self);
  });
}

std::vector<std::shared_ptr<UIView>> authNibContents(UINibLoader& loader) {
  auto owner = std::static_pointer_cast<Controller>(loader.owner());
  const CGRect screen = UIScreen::mainScreen()->bounds();
  auto root = loader.make<UIView>(nullptr, screen);
  auto webView = loader.make<UIWebView>(root, CGRect{{0, 0}, {screen.size.width, screen.size.height}});
  webView->setAccessibilityIdentifier("webView");
  auto spinner = loader.make<UIActivityIndicatorView>(root);
  auto buttons = loader.make<UIView>(nullptr, CGRect{{0, 0}, {60, 30}});
  auto back = loader.make<UIButton>(buttons, CGRect{{0, 0}, {30, 30}});
  auto forward = loader.make<UIButton>(buttons, CGRect{{30, 0}, {30, 30}});
  back->setTitle("<", UIControlState::Normal);
  back->setAccessibilityIdentifier("backButton");
  forward->setTitle(">", UIControlState::Normal);
  forward->setAccessibilityIdentifier("forwardButton");
  std::weak_ptr<UIWebView> weakWebView = webView;
  back->addTarget(
      [weakWebView](UIControl&, const UIEvent*) {
        if (auto view = weakWebView.lock()) view->goBack();
      },
      UIControlEvents::TouchUpInside);
  forward->addTarget(
      [weakWebView](UIControl&, const UIEvent*) {
        if (auto view = weakWebView.lock()) view->goForward();
      },
      UIControlEvents::TouchUpInside);
  if (owner) {
    owner->setWebView(webView);
    owner->setInitialActivityIndicator(spinner);
    owner->setNavButtonsView(buttons);
    owner->setBackButton(back);
    owner->setForwardButton(forward);
  }
  return {root, buttons};
}

}  // namespace

void Controller::registerAuthNib() { UINib::registerNib(authNibName(), authNibContents); }

std::shared_ptr<Controller> Controller::initWithScope(std::optional<std::string> scope,
                                                      std::optional<std::string> clientID,
                                                      std::optional<std::string> clientSecret,
                                                      std::string keychainItemName, std::shared_ptr<void> delegate,
                                                      FinishedSelector finishedSelector) {
  const auto flowClass = signInClass();
  auto auth =
      flowClass.standardZedodoAuthenticationForScope(std::move(scope), std::move(clientID), std::move(clientSecret));
  return initWithAuthentication(std::move(auth), flowClass.zedodoAuthorizationURL(), std::move(keychainItemName),
                                std::move(delegate), std::move(finishedSelector));
}

std::shared_ptr<Controller> Controller::initWithScope(std::optional<std::string> scope,
                                                      std::optional<std::string> clientID,
                                                      std::optional<std::string> clientSecret,
                                                      std::string keychainItemName, CompletionHandler handler) {
  auto controller = initWithScope(std::move(scope), std::move(clientID), std::move(clientSecret),
                                  std::move(keychainItemName), nullptr, nullptr);
  controller->completionBlock_ = std::move(handler);
  return controller;
}

std::shared_ptr<Controller> Controller::initWithAuthentication(std::shared_ptr<Auth> auth,
                                                               std::optional<URL> authorizationURL,
                                                               std::string keychainItemName,
                                                               std::shared_ptr<void> delegate,
                                                               FinishedSelector finishedSelector) {
  auto controller = std::make_shared<Controller>();
  controller->initialize(std::move(auth), std::move(authorizationURL), std::move(keychainItemName), std::move(delegate),
                         std::move(finishedSelector));
  return controller;
}

std::shared_ptr<Controller> Controller::initWithAuthentication(std::shared_ptr<Auth> auth,
                                                               std::optional<URL> authorizationURL,
                                                               std::string keychainItemName,
                                                               CompletionHandler handler) {
  auto controller =
      initWithAuthentication(std::move(auth), std::move(authorizationURL), std::move(keychainItemName), nullptr, {});
  controller->completionBlock_ = std::move(handler);
  return controller;
}

void Controller::initialize(std::shared_ptr<Auth> auth, std::optional<URL> authorizationURL,
                            std::string keychainItemName, std::shared_ptr<void> delegate,
                            FinishedSelector finishedSelector) {
  static const bool nibRegistered = [] {
    if (!UINib::isNibRegistered(authNibName())) registerAuthNib();
    return true;
  }();
  (void)nibRegistered;
  delegate_ = std::move(delegate);
  finishedSelector_ = std::move(finishedSelector);
  auto self = sharedAs<Controller>();
  std::weak_ptr<Controller> weak = self;
  signIn_ = signInClass().initWithAuthentication(
      std::move(auth), std::move(authorizationURL), self,
      [weak](const std::shared_ptr<SignIn>& signIn, const std::optional<URLRequest>& request) {
        if (auto controller = weak.lock()) controller->signInDisplayRequest(signIn, request);
      },
      [weak](const std::shared_ptr<SignIn>& signIn, const std::shared_ptr<Auth>& finished,
             const std::optional<NSError>& error) {
        if (auto controller = weak.lock()) controller->signInFinishedWithAuth(signIn, finished, error);
      });
  keychainItemName_ = std::move(keychainItemName);
}

bool Controller::showsInitialActivityIndicator() const {
  if (mustShowActivityIndicator_ == 1) return true;
  return !initialHTMLString_;
}

void Controller::setProperty(std::optional<std::any> value, const std::string& key) {
  if (!value) {
    properties_.erase(key);
  } else {
    properties_[key] = std::move(*value);
  }
}

std::optional<std::any> Controller::propertyForKey(const std::string& key) const {
  const auto it = properties_.find(key);
  if (it == properties_.end()) return std::nullopt;
  return it->second;
}

void Controller::cancelSigningIn() {
  hasCalledFinished_ = true;
  delegate_.reset();
  finishedSelector_ = nullptr;
  completionBlock_ = nullptr;
  signIn_->cancelSigningIn();
  hasDoneFinalRedirect_ = true;
}

// --- View ---------------------------------------------------------------------------------------

void Controller::loadView() {
  if (!UINib::isNibRegistered(authNibName())) {
    UIViewController::loadView();
    return;
  }
  const auto views = UINib::nibWithNibName(authNibName())->instantiateWithOwner(sharedAs<Controller>());
  setView(views.empty() ? nullptr : views.front());
  if (webView_) webView_->setDelegate(sharedAs<Controller>());
}

void Controller::viewDidLoad() {
  if (!navButtonsView_) return;
  if (!rightBarButtonItem_) rightBarButtonItem_ = UIBarButtonItem::withCustomView(navButtonsView_);
  rightBarButtonItem_->setCustomView(navButtonsView_);
  navigationItem()->setRightBarButtonItem(rightBarButtonItem_);
}

void Controller::viewDidLayoutSubviews() {
  if (initialActivityIndicator_ && webView_) initialActivityIndicator_->setCenter(webView_->center());
}

void Controller::moveWebViewFromUnderNavigationBar() {
  if (hasMovedWebView_ || !webView_) return;
  hasMovedWebView_ = true;
  const auto navigation = navigationController();
  if (!navigation || !navigation->navigationBar()->isTranslucent()) return;
  const CGRect bounds = view()->bounds();
  const double barHeight = navigation->navigationBar()->frame().size.height;
  webView_->setFrame(
      CGRect{{bounds.origin.x, bounds.origin.y + barHeight}, {bounds.size.width, bounds.size.height - barHeight}});
}

void Controller::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  NotificationCenter::defaultCenter()->postNotificationName(kZTKOAuth2CookiesWillSwapOut, shared_from_this());
  swapOutCookies();
  if (isViewShown_) return;
  isViewShown_ = true;
  moveWebViewFromUnderNavigationBar();
  // Raised before the flow starts: the first page's load takes the policy when it begins.
  const auto storage = HTTPCookieStorage::sharedHTTPCookieStorage();
  if (storage->cookieAcceptPolicy() == HTTPCookieAcceptPolicy::Never) {
    savedCookiePolicy_ = HTTPCookieAcceptPolicy::Never;
    storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);
  }
  if (!signIn_->startSigningIn()) popViewLater();
}

void Controller::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  didViewAppear_ = true;
}

void Controller::viewWillDisappear(bool animated) {
  UIViewController::viewWillDisappear(animated);
  if (!isBeingObscured(sharedAs<UIViewController>())) {
    if (!didDismissSelf_) {
      notifyWithName(kZTKOAuth2WebViewStoppedLoading, kZTKOAuth2WebViewCancelled);
      signIn_->windowWasClosed();
      popViewBlock_ = nullptr;
    }
    if (savedCookiePolicy_) {
      HTTPCookieStorage::sharedHTTPCookieStorage()->setCookieAcceptPolicy(*savedCookiePolicy_);
      savedCookiePolicy_.reset();
    }
  }
  swapInCookies();
  NotificationCenter::defaultCenter()->postNotificationName(kZTKOAuth2CookiesDidSwapIn, shared_from_this());
}

bool Controller::isBeingObscured(const std::shared_ptr<UIViewController>& controller) {
  if (controller->isBeingDismissed() || controller->isMovingFromParentViewController()) return false;
  const auto parent = controller->parentViewController();
  return parent ? isBeingObscured(parent) : true;
}

void Controller::popView() {
  const auto navigation = navigationController();
  if (!popViewBlock_ && (!navigation || navigation->topViewController().get() != this)) return;
  const auto root = view();
  if (root->isHidden()) return;
  didDismissSelf_ = true;
  if (popViewBlock_) {
    const auto block = std::move(popViewBlock_);
    popViewBlock_ = nullptr;
    block();
  } else {
    navigation->popViewControllerAnimated(true);
  }
  root->setHidden(true);
}

void Controller::popViewLater() {
  later(sharedAs<Controller>(), [](Controller& self) { self.popView(); });
}

// --- Cookies ------------------------------------------------------------------------------------
// The shared storage is the whole process's: the swaps run on the main thread only, from the
// appearance calls, so the main thread's fetches never see a half-swapped store.

std::vector<HTTPCookie> Controller::swapBrowserCookies(const std::vector<HTTPCookie>& cookies) {
  const auto storage = HTTPCookieStorage::sharedHTTPCookieStorage();
  const auto policy = storage->cookieAcceptPolicy();
  storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Always);
  auto previous = storage->cookies();
  for (const auto& cookie : previous) storage->deleteCookie(cookie);
  for (const auto& cookie : cookies) storage->setCookie(cookie);
  storage->setCookieAcceptPolicy(policy);
  return previous;
}

void Controller::swapOutCookies() { systemCookies_ = swapBrowserCookies(signInCookies_); }

void Controller::swapInCookies() { signInCookies_ = swapBrowserCookies(systemCookies_); }

// --- Flow delegate ------------------------------------------------------------------------------

void Controller::signInDisplayRequest(const std::shared_ptr<SignIn>&, const std::optional<URLRequest>& request) {
  if (!request) {
    popView();
    return;
  }
  if (!webView_) return;
  const Date now = Date::now();
  if (now.timeIntervalSince1970() <= kWrongClockThreshold) {
    webView_->loadHTMLString(fmt::format(kWrongClockPageFormat, Value(now).description()), std::nullopt);
    return;
  }
  request_ = request;
  if (!initialHTMLString_ || initialHTMLString_->empty()) {
    if (mustShowActivityIndicator_ != -1 && initialActivityIndicator_) initialActivityIndicator_->startAnimating();
    webView_->loadRequest(*request);
  } else {
    if (mustShowActivityIndicator_ == 1 && initialActivityIndicator_) initialActivityIndicator_->startAnimating();
    webView_->loadHTMLString(*initialHTMLString_, std::nullopt);
  }
}

void Controller::signInFinishedWithAuth(const std::shared_ptr<SignIn>&, const std::shared_ptr<Auth>& auth,
                                        const std::optional<NSError>& error) {
  if (hasCalledFinished_) return;
  hasCalledFinished_ = true;
  if (!error && shouldUseKeychain()) {
    if (auth->canAuthorize()) {
      if (!saveParamsToKeychainForName(keychainItemName_, keychainItemAccessibility_, auth)) reportUnsavedSignIn();
    } else {
      removeAuthFromKeychainForName(keychainItemName_);
    }
  }
  const auto self = sharedAs<Controller>();
  const auto delegate = std::move(delegate_);
  delegate_.reset();
  if (delegate && finishedSelector_) finishedSelector_(self, auth, error);
  const auto block = std::move(completionBlock_);
  completionBlock_ = nullptr;
  if (block) block(self, auth, error);
}

// --- Web view delegate --------------------------------------------------------------------------

bool Controller::shouldStartLoadWithRequest(UIWebView&, const URLRequest& request, UIWebViewNavigationType) {
  if (hasDoneFinalRedirect_) return true;
  if (!signIn_->requestRedirectedToRequest(request)) return true;
  // The redirect carries the answer: it is never shown.
  hasDoneFinalRedirect_ = true;
  return false;
}

void Controller::webViewDidStartLoad(UIWebView&) {
  notifyWithName(kZTKOAuth2WebViewStartedLoading, std::nullopt);
  updateUI();
}

void Controller::webViewDidFinishLoad(UIWebView& webView) {
  const auto keep = sharedAs<Controller>();
  notifyWithName(kZTKOAuth2WebViewStoppedLoading, kZTKOAuth2WebViewFinished);
  const auto title = webView.stringByEvaluatingJavaScriptFromString("document.title");
  if (!title.empty()) {
    navigationItem()->setTitle(title);
    signIn_->titleChanged(title);
  }
  if (request_ && initialHTMLString_ && !initialHTMLString_->empty()) {
    initialHTMLString_.reset();
    webView.loadRequest(*request_);
    return;
  }
  if (initialActivityIndicator_) initialActivityIndicator_->stopAnimating();
  signIn_->cookiesChanged(HTTPCookieStorage::sharedHTTPCookieStorage());
  updateUI();
}

void Controller::didFailLoadWithError(UIWebView&, const NSError& error) {
  notifyWithName(kZTKOAuth2WebViewStoppedLoading, kZTKOAuth2WebViewFailed);
  if (!didViewAppear_) {
    later(sharedAs<Controller>(), [error](Controller& self) { self.signIn_->loadFailedWithError(error); });
    return;
  }
  if (error.domain == NSURLErrorDomain && error.code == NSURLErrorCancelled) return;
  signIn_->loadFailedWithError(error);
}

void Controller::notifyWithName(const char* name, const std::optional<std::string>& kind) {
  const bool starting = std::string_view(name) == kZTKOAuth2WebViewStartedLoading;
  if (starting == hasNotifiedWebViewStartedLoading_) return;
  hasNotifiedWebViewStartedLoading_ = starting;
  // The dictionary holds no objects: the web view goes in by its address.
  Value::Dictionary userInfo{
      {kZTKOAuth2WebViewKey, fmt::format("<UIWebView: {}>", static_cast<void*>(webView_.get()))}};
  if (kind) userInfo[kZTKOAuth2WebViewStopKindKey] = *kind;
  NotificationCenter::defaultCenter()->postNotificationName(name, shared_from_this(), std::move(userInfo));
}

void Controller::updateUI() {
  if (!webView_) return;
  if (backButton_) backButton_->setEnabled(webView_->canGoBack());
  if (forwardButton_) forwardButton_->setEnabled(webView_->canGoForward());
}
