#include "services/service_locator.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/http/manager.h"
#include "platform/keychain/keychain_wrapper.h"
#include "services_test_support.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

namespace {

struct NoDialog : FBSDKLoginDialogPresenter {
  void presentLoginDialog(const Request&, Completion completion) override {
    completion(FBSDKLoginManagerLoginResult::cancelled(), std::nullopt);
  }
};

class ServiceLocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { UIStoryboard::registerStoryboard("Main", std::nullopt, {}); }
  void TearDown() override {
    ServiceLocator::tearDownForTesting();
    UIStoryboard::unregisterStoryboard("Main");
    FBSDKLoginDialogPresenter::setCurrent(nullptr);
    FBSDKSettings::setGraphBaseURL(std::nullopt);
    DAZSignIn::sharedInstance()->setFlow(nullptr);
  }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<MemoryKeychainStore> keychain = std::make_shared<MemoryKeychainStore>();
};

}  // namespace

TEST_F(ServiceLocatorTest, TheLocatorIsMadeOverTheDoublesItIsGiven) {
  KeychainStore::setCurrent(keychain);
  KeychainWrapper::standard().setString("acc", "accessToken");
  auto presenter = std::make_shared<NoDialog>();
  auto flow = std::make_shared<ScriptedZedodoFlow>();
  auto client = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
  ServiceLocator::setUpForTesting({std::make_shared<MemoryKeychainStore>(), client, server.url("BrevantTest/"),
                                   presenter, server.url("graph/"), flow});

  // Calls through each service reach the fake backend in the services' own tests; what they
  // cannot see is which doubles went in, and that the keychain double came before the manager.
  auto& locator = ServiceLocator::shared();
  EXPECT_NE(KeychainStore::current(), keychain);
  EXPECT_EQ(FBSDKLoginDialogPresenter::current(), presenter);
  EXPECT_EQ(FBSDKSettings::graphBaseURL(), server.url("graph/"));
  EXPECT_EQ(DAZSignIn::sharedInstance()->flow(), flow);
  const auto& manager = locator.authenticationManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_FALSE(manager->authenticationType());
  EXPECT_EQ(locator.transferCoordinator()->authenticationManager(), manager);
  EXPECT_EQ(locator.transferCoordinator()->httpClient(), client);
  ASSERT_NE(locator.viewControllerFactory(), nullptr);
  EXPECT_EQ(locator.viewControllerFactory()->storyboard()->name(), "Main");
}

TEST_F(ServiceLocatorTest, ConcurrentFirstReadsShareOneLocatorAndTearDownMakesWayForANewOne) {
  KeychainStore::setCurrent(keychain);
  std::vector<ServiceLocator*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = &ServiceLocator::shared(); });
  for (auto& thread : threads) thread.join();
  for (auto* locator : seen) EXPECT_EQ(locator, seen[0]);
  EXPECT_TRUE(seen[0]->backendApi()->backendUrl().ends_with("/BrevantTest/"));
  std::weak_ptr<AuthenticationManager> first = seen[0]->authenticationManager();

  ServiceLocator::tearDownForTesting();
  EXPECT_TRUE(first.expired());  // the cross-links keep nothing alive
  ServiceLocator::setUpForTesting({});
  EXPECT_NE(ServiceLocator::shared().authenticationManager(), nullptr);
  EXPECT_DEATH(ServiceLocator::setUpForTesting({}), "exists already");
}
