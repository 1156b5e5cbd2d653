#include "services/service_locator.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "backend_fixture.h"

namespace {

// The fixture made the locator over its doubles. Calls through each service reach the fake backend
// in the services' own tests; what they cannot see is which doubles went in.
using ServiceLocatorTest = BackendFixture;

TEST_F(ServiceLocatorTest, TheLocatorIsMadeOverTheDoublesItIsGiven) {
  EXPECT_EQ(KeychainStore::current(), keychain);
  EXPECT_EQ(FBSDKLoginDialogPresenter::current(), facebookDialog);
  EXPECT_EQ(FBSDKSettings::graphBaseURL(), server.url("graph/"));
  EXPECT_EQ(DAZSignIn::sharedInstance()->flow(), zedodoFlow);
  EXPECT_EQ(locator().transferCoordinator()->authenticationManager(), manager());
  EXPECT_EQ(locator().transferCoordinator()->httpClient(), client);
  EXPECT_EQ(locator().viewControllerFactory()->storyboard()->name(), "Main");

  // The keychain double is in place before the manager reads the tokens.
  KeychainWrapper::standard().setString("acc", "accessToken");
  ServiceLocator::tearDownForTesting();
  ServiceLocator::TestDoubles doubles;
  doubles.keychainStore = std::make_shared<MemoryKeychainStore>();
  ServiceLocator::setUpForTesting(std::move(doubles));
  EXPECT_FALSE(manager()->authenticationType());
}

TEST_F(ServiceLocatorTest, ConcurrentFirstReadsShareOneLocatorAndTearDownMakesWayForANewOne) {
  ServiceLocator::tearDownForTesting();
  std::vector<ServiceLocator*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = &ServiceLocator::shared(); });
  for (auto& thread : threads) thread.join();
  for (auto* shared : seen) EXPECT_EQ(shared, seen[0]);
  std::weak_ptr<AuthenticationManager> first = seen[0]->authenticationManager();

  ServiceLocator::tearDownForTesting();
  EXPECT_TRUE(first.expired());  // the cross-links keep nothing alive
  ServiceLocator::setUpForTesting({});
  EXPECT_NE(manager(), nullptr);
  EXPECT_DEATH(ServiceLocator::setUpForTesting({}), "exists already");
}

}  // namespace
