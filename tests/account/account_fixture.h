#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "account/login_view_controller.h"
#include "app/progress_indicator_helper.h"
#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/http/manager.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/controller_test_support.h"
#include "platform/ui/ui_alert_controller.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_tab_bar_controller.h"
#include "platform/ui/ui_window.h"
#include "services/service_locator.h"
#include "support/fake_backend.h"

// The main tab bar, telling the test the moment it is about to show.
class ProbeTabBar : public UITabBarController {
 public:
  explicit ProbeTabBar(const NSCoder& coder) : UITabBarController(coder) {}
  void viewWillAppear(bool animated) override {
    UITabBarController::viewWillAppear(animated);
    if (onAppear) onAppear();
  }
  static inline std::function<void()> onAppear;
};

// The real "Startup" storyboard in a window, its screens over the services and the fake backend.
class AccountTest : public ControllerTest {
 protected:
  void SetUp() override {
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    registerViewControllerClass<ProbeTabBar>("ProbeTabBar");
    UIStoryboard::registerStoryboard("Main", "tabs", {{"tabs", "ProbeTabBar", {}, {}, {}}});
    registerStartupStoryboard();
    ServiceLocator::TestDoubles doubles;
    doubles.keychainStore = std::make_shared<MemoryKeychainStore>();
    doubles.httpClient = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
    doubles.backendUrl = server.url("api/");
    ServiceLocator::setUpForTesting(std::move(doubles));
  }
  void TearDown() override {
    ProbeTabBar::onAppear = nullptr;
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    window.reset();
    ServiceLocator::tearDownForTesting();
    UIStoryboard::unregisterStoryboard("Startup");
    UIStoryboard::unregisterStoryboard("Main");
    Bundle::setMainResourcePath(std::nullopt);
  }

  // The app's first screen, on screen.
  std::shared_ptr<LoginViewController> showLogin() {
    window = UIWindow::make();
    window->setRootViewController(UIStoryboard::storyboardWithName("Startup")->instantiateInitialViewController());
    window->makeKeyAndVisible();
    return top<LoginViewController>();
  }
  template <class T>
  std::shared_ptr<T> top() const {
    return std::dynamic_pointer_cast<T>(navigation()->topViewController());
  }
  std::shared_ptr<UINavigationController> navigation() const {
    return std::dynamic_pointer_cast<UINavigationController>(window->rootViewController());
  }
  std::shared_ptr<UIAlertController> alert() const {
    return std::dynamic_pointer_cast<UIAlertController>(navigation()->presentedViewController());
  }
  // Waits for an alert and closes it with OK; its texts as "title | message", "-" for an absent part.
  std::string waitForAlert() {
    if (!time.runUntil([&] { return alert() != nullptr; }, 10)) return "(no alert)";
    const auto texts = alert()->title().value_or("-") + " | " + alert()->message().value_or("-");
    alert()->tapActionWithTitle("OK");
    time.runUntilIdle();
    return texts;
  }

  // Answers `method` api/<path> with `status` and the JSON `body`, after `delay` real seconds.
  void reply(const std::string& path, int status, std::string body, double delay = 0, std::string method = "POST") {
    server.reply(std::move(method), "/api/" + path,
                 {.status = status, .body = std::move(body), .contentType = "application/json", .delay = delay});
  }
  nlohmann::json lastBody() const { return nlohmann::json::parse(server.lastRequest()->body, nullptr, false); }
  static bool overlayShown() { return ProgressIndicatorHelper::instance()->isShown(); }

  FakeBackend server;
  std::shared_ptr<UIWindow> window;
};
