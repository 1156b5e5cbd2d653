#include "toolkit/oauth2_view_controller_touch.h"

#include <gtest/gtest.h>

#include "platform/foundation/notification_center.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_nib.h"
#include "platform/ui/ui_window.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"
#include "toolkit/oauth2_constants.h"
#include "toolkit/oauth2_sign_in_internal.h"
#include "toolkit/session_fetcher_service.h"

using Controller = ZSDK_ZTKOAuth2ViewControllerTouch;
using SignIn = ZSDK_ZTKOAuth2SignIn;

namespace {

ScriptedReply page(std::string html, std::vector<std::pair<std::string, std::string>> headers = {}) {
  return {.status = 200, .headers = std::move(headers), .body = std::move(html), .contentType = "text/html"};
}

// How one controller's sign-in ended.
struct Outcome {
  int finished = 0;
  std::optional<NSError> error;
};

// A provider on a loopback server: a sign-in form that sets a cookie and answers with a
// redirect carrying the code, and a token endpoint. The navigation controller is on screen.
class WebSignInTest : public ::testing::Test {
 protected:
  explicit WebSignInTest(Date start = Date{VirtualTime::kDefaultStart}) : time(start) {
    const auto origin = server.baseUrl().substr(0, server.baseUrl().size() - 1);
    SignIn::setProviderHosts({origin, origin, "zedodo.com"});
    KeychainStore::setCurrent(keychain);
    service->allowLocalhostRequest = true;
    service->allowedInsecureSchemes = {"http"};
    server.reply("GET", "/o/oauth2/auth",
                 page("<title>Sign in</title><p>Who are you?</p><form method=post action=/login>"
                      "<input name=user><input type=submit value=Next></form>",
                      {{"Set-Cookie", "provider_sid=p-1; Path=/"}}));
    server.reply("POST", "/login", {.status = 302, .headers = {{"Location", server.url("cb") + "?code=c-1"}}});
    server.reply("GET", "/cb", page("<title>Redirected</title>"));
    // A page that is still loading whenever a test looks.
    server.reply("GET", "/o/oauth2/slow", {.body = "<title>Slow</title>", .contentType = "text/html", .delay = 30});
    server.reply("POST", "/o/oauth2/token",
                 {.body = R"({"access_token":"at-1","refresh_token":"rt-1","expires_in":3600})",
                  .contentType = "application/json"});
    for (const char* name : {kZTKOAuth2WebViewStartedLoading, kZTKOAuth2WebViewStoppedLoading,
                             kZTKOAuth2CookiesWillSwapOut, kZTKOAuth2CookiesDidSwapIn}) {
      observers.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, nullptr, [this](const Notification& note) { record(note); }));
    }
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
  }
  ~WebSignInTest() override {
    for (auto token : observers) NotificationCenter::defaultCenter()->removeObserver(token);
    window->setRootViewController(nullptr);
    const auto storage = HTTPCookieStorage::sharedHTTPCookieStorage();
    for (const auto& cookie : storage->cookies()) storage->deleteCookie(cookie);
    storage->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Always);
    KeychainStore::setCurrent(nullptr);
    SignIn::setProviderHosts({});
    time.runUntilIdle();
  }

  std::shared_ptr<Controller> makeController(Outcome& outcome, const std::string& page = "/o/oauth2/auth") {
    auto auth = SignIn::standardZedodoAuthenticationForScope("openid", "client-7", "");
    auth->setRedirectURI(server.url("cb"));
    auth->setFetcherService(service);
    auto controller =
        Controller::initWithAuthentication(auth, URL::URLWithString(server.url(page)), "web-item",
                                           [&outcome](const auto&, const auto&, const std::optional<NSError>& error) {
                                             ++outcome.finished;
                                             outcome.error = error;
                                           });
    controller->setNetworkLossTimeoutInterval(0);
    names[controller.get()] = "c" + std::to_string(names.size() + 1);
    return controller;
  }

  void record(const Notification& note) {
    const auto it = names.find(note.object.get());
    if (it == names.end()) return;
    std::string text = it->second + " " + note.name.substr(note.name.find("2") + 1);
    if (auto kind = note.userInfo.find(kZTKOAuth2WebViewStopKindKey); kind != note.userInfo.end()) {
      text += " " + *kind->second.asString();
    }
    notices.push_back(text);
  }
  std::vector<std::string> takeNotices() { return std::exchange(notices, {}); }

  static std::vector<std::string> cookieNames() {
    std::vector<std::string> out;
    for (const auto& cookie : HTTPCookieStorage::sharedHTTPCookieStorage()->cookies()) out.push_back(cookie.name);
    return out;
  }
  static void setAppCookie() {
    HTTPCookie app;
    app.name = "app";
    app.value = "a-1";
    app.domain = "127.0.0.1";
    HTTPCookieStorage::sharedHTTPCookieStorage()->setCookie(app);
  }
  std::size_t requestsTo(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path;
    return count;
  }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<MemoryKeychainStore> keychain = std::make_shared<MemoryKeychainStore>();
  std::shared_ptr<ZSDK_ZTKSessionFetcherService> service = ZSDK_ZTKSessionFetcherService::create();
  std::shared_ptr<UIWindow> window = UIWindow::make();
  std::shared_ptr<UINavigationController> navigation =
      std::make_shared<UINavigationController>(std::make_shared<UIViewController>());
  std::vector<NotificationCenter::ObserverToken> observers;
  std::map<const void*, std::string> names;
  std::vector<std::string> notices;
};

}  // namespace

TEST_F(WebSignInTest, SignsInThroughTheProviderFormWithoutShowingTheRedirect) {
  setAppCookie();
  HTTPCookieStorage::sharedHTTPCookieStorage()->setCookieAcceptPolicy(HTTPCookieAcceptPolicy::Never);
  Outcome outcome;
  auto controller = makeController(outcome);
  navigation->pushViewController(controller, false);
  ASSERT_TRUE(time.runUntil([&] { return controller->navigationItem()->title() == "Sign in"; }));
  const auto screen = renderOnOneLine(*window);
  EXPECT_NE(screen.find("Sign in"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Who are you?"), std::string::npos) << screen;
  // The sign-in's cookies only, stored although the application refuses cookies.
  EXPECT_EQ(cookieNames(), std::vector<std::string>{"provider_sid"});
  EXPECT_EQ(HTTPCookieStorage::sharedHTTPCookieStorage()->cookieAcceptPolicy(),
            HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain);

  ASSERT_TRUE(controller->webView()->submitForm(0, {{"user", "ann"}}));
  ASSERT_TRUE(time.runUntil([&] { return outcome.finished > 0; }));
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(controller->authentication()->accessToken(), "at-1");
  EXPECT_EQ(requestsTo("/cb"), 0u);
  EXPECT_EQ(navigation->topViewController(), navigation->viewControllers().front());
  EXPECT_EQ(cookieNames(), std::vector<std::string>{"app"});
  EXPECT_EQ(HTTPCookieStorage::sharedHTTPCookieStorage()->cookieAcceptPolicy(), HTTPCookieAcceptPolicy::Never);
  EXPECT_TRUE(Controller::authForZedodoFromKeychainForName("web-item", "client-7", "")->canAuthorize());
  time.runUntilIdle();
  EXPECT_EQ(outcome.finished, 1);
  EXPECT_EQ(takeNotices(), (std::vector<std::string>{"c1 CookiesWillSwapOut", "c1 WebViewStartedLoading",
                                                     "c1 WebViewStoppedLoading finished", "c1 WebViewStartedLoading",
                                                     "c1 CookiesDidSwapIn", "c1 WebViewStoppedLoading failed"}));
}

TEST_F(WebSignInTest, LeavingBeforeTheCodeEndsTheFlowAndBeingCoveredDoesNot) {
  setAppCookie();
  Outcome first;
  Outcome second;
  auto c1 = makeController(first);
  navigation->pushViewController(c1, false);
  ASSERT_TRUE(time.runUntil([&] { return !c1->webView()->isLoading(); }));
  EXPECT_EQ(cookieNames(), std::vector<std::string>{"provider_sid"});
  navigation->presentViewController(std::make_shared<UIViewController>(), false);
  EXPECT_EQ(cookieNames(), std::vector<std::string>{"app"});
  navigation->dismissViewControllerAnimated(false);
  time.runUntilIdle();
  EXPECT_EQ(first.finished, 0);

  // A new controller covers the first and starts without sign-in cookies.
  auto c2 = makeController(second, "/o/oauth2/slow");
  navigation->pushViewController(c2, false);
  EXPECT_EQ(cookieNames(), std::vector<std::string>{});
  ASSERT_TRUE(navigation->tapBackButton());
  EXPECT_EQ(cookieNames(), std::vector<std::string>{"provider_sid"});
  ASSERT_TRUE(time.runUntil([&] { return second.finished > 0; }));
  EXPECT_EQ(first.finished, 0);

  ASSERT_TRUE(navigation->tapBackButton());
  ASSERT_TRUE(time.runUntil([&] { return first.finished > 0; }));
  time.runUntilIdle();
  for (const auto* outcome : {&first, &second}) {
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(std::pair(outcome->error->domain, outcome->error->code),
              std::pair(std::string(kZTKOAuth2ErrorDomain), long{ZTKOAuth2ErrorWindowClosed}));
    EXPECT_EQ(outcome->finished, 1);
  }
  EXPECT_EQ(cookieNames(), std::vector<std::string>{"app"});
  EXPECT_EQ(requestsTo("/o/oauth2/auth"), 1u);
  EXPECT_FALSE(Controller::authForZedodoFromKeychainForName("web-item", "client-7", "")->canAuthorize());
  // A stop notice only answers a start: the first page had finished before its controller left.
  EXPECT_EQ(takeNotices(),
            (std::vector<std::string>{"c1 CookiesWillSwapOut", "c1 WebViewStartedLoading",
                                      "c1 WebViewStoppedLoading finished", "c1 CookiesDidSwapIn",
                                      "c1 CookiesWillSwapOut", "c1 CookiesDidSwapIn", "c2 CookiesWillSwapOut",
                                      "c2 WebViewStartedLoading", "c2 WebViewStoppedLoading cancelled",
                                      "c2 CookiesDidSwapIn", "c1 CookiesWillSwapOut", "c1 CookiesDidSwapIn"}));
}

TEST_F(WebSignInTest, WithoutTheInterfaceFileTheViewIsEmptyAndNothingLoads) {
  Outcome outcome;
  auto controller = makeController(outcome);
  UINib::unregisterNib(Controller::authNibName());
  navigation->pushViewController(controller, false);
  Controller::registerAuthNib();
  time.runUntilIdle();
  EXPECT_FALSE(controller->webView());
  EXPECT_EQ(server.requestCount(), 0u);
  ASSERT_TRUE(navigation->tapBackButton());
  time.runUntilIdle();
  EXPECT_EQ(outcome.finished, 1);
}

class WrongClockTest : public WebSignInTest, public ::testing::WithParamInterface<double> {
 protected:
  WrongClockTest() : WebSignInTest(Date::dateWithTimeIntervalSince1970(GetParam())) {}
};

TEST_P(WrongClockTest, UpToTheStartOf2011AnExplanationShowsInsteadAndTheFlowStaysOpen) {
  const bool wrong = GetParam() <= Controller::kWrongClockThreshold;
  Outcome outcome;
  auto controller = makeController(outcome);
  navigation->pushViewController(controller, false);
  ASSERT_TRUE(time.runUntil([&] { return !controller->webView()->isLoading(); }));
  const auto text = renderOnOneLine(*controller->webView());
  if (wrong) {
    EXPECT_EQ(text, "\u231A ? | System Clock Incorrect | 2011-01-01 00:00:00 +0000");
    EXPECT_EQ(server.requestCount(), 0u);
  } else {
    EXPECT_EQ(requestsTo("/o/oauth2/auth"), 1u);
  }
  EXPECT_EQ(outcome.finished, 0);
  ASSERT_TRUE(navigation->tapBackButton());
  time.runUntilIdle();
  EXPECT_EQ(outcome.finished, 1);
}

INSTANTIATE_TEST_SUITE_P(Clock, WrongClockTest, ::testing::Values(1293840000.0, 1293840001.0));

TEST(WebSignInClassTest, TheFlowClassGivesTheControllersFlowAndEndpoints) {
  using Internal = ZSDK_ZTKOAuth2SignInInternal;
  Controller::setSignInClass(ZSDK_ZTKOAuth2KeychainAuth::SignInClass::of<Internal>());
  auto controller = Controller::initWithScope("openid", "client-7", std::nullopt, "", [](auto&&...) {});
  Controller::setSignInClass(std::nullopt);
  ASSERT_TRUE(std::dynamic_pointer_cast<Internal>(controller->signIn()));
  EXPECT_EQ(controller->signIn()->authorizationURL(), Internal::zedodoAuthorizationURL());
  EXPECT_EQ(controller->authentication()->tokenURL(), Internal::zedodoTokenURL());
  EXPECT_FALSE(controller->authentication()->redirectURI());
  EXPECT_FALSE(controller->shouldUseKeychain());
  controller->cancelSigningIn();
  EXPECT_EQ(Controller::signInClass().zedodoAuthorizationURL(), SignIn::zedodoAuthorizationURL());
}
