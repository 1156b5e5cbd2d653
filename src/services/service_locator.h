#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/main_view_controller_factory.h"
#include "backend/backend_api.h"
#include "backend/transfer_coordinator.h"
#include "platform/http/http_client.h"
#include "services/authentication_manager.h"

class AchievementService;
class DAZSignInFlow;
class FBSDKLoginDialogPresenter;
class KeychainStore;
class LectureService;
class NewsService;
class ProfileService;

// The composition root: makes the long-lived services once, wires them and hands them out. It owns
// every service; the services link one another weakly.
class ServiceLocator {
 public:
  // Made on first use (safe across threads) and kept for the whole run.
  static ServiceLocator& shared();

  // What tests put in place of the platform before the shared locator is made. Absent parts keep
  // what is installed already.
  struct TestDoubles {
    std::shared_ptr<KeychainStore> keychainStore;
    std::shared_ptr<HTTPClient> httpClient;
    std::optional<std::string> backendUrl;
    std::shared_ptr<FBSDKLoginDialogPresenter> facebookLoginPresenter;
    std::optional<std::string> facebookGraphBaseUrl;
    std::shared_ptr<DAZSignInFlow> zedodoSignInFlow;
    // Stands in for the factory the screens take from the locator.
    std::shared_ptr<MainViewControllerFactory> viewControllerFactory;
  };
  // Tests: installs the doubles and makes the shared locator over them; a locator that exists
  // already stops the program.
  static void setUpForTesting(TestDoubles doubles);
  // Tests: runs what the main loop has due, then drops the shared locator so the next use makes a
  // new one.
  static void tearDownForTesting();

  const std::shared_ptr<AuthenticationManager>& authenticationManager() const { return authenticationManager_; }
  const std::shared_ptr<BackendApi>& backendApi() const { return backendApi_; }
  const std::shared_ptr<TransferCoordinator>& transferCoordinator() const { return transferCoordinator_; }
  const std::shared_ptr<LectureService>& lectureService() const { return lectureService_; }
  const std::shared_ptr<AchievementService>& achievementService() const { return achievementService_; }
  const std::shared_ptr<NewsService>& newsService() const { return newsService_; }
  const std::shared_ptr<ProfileService>& profileService() const { return profileService_; }
  const std::shared_ptr<MainViewControllerFactory>& viewControllerFactory() const { return viewControllerFactory_; }

  ~ServiceLocator();
  ServiceLocator(const ServiceLocator&) = delete;
  ServiceLocator& operator=(const ServiceLocator&) = delete;

 private:
  // Never reads shared(): it runs inside its one-time guard.
  ServiceLocator(std::shared_ptr<HTTPClient> httpClient, std::optional<std::string> backendUrl);
  // The content services join here, after the core wiring and before the locator is published.
  void wireContentServices();

  std::shared_ptr<AuthenticationManager> authenticationManager_;
  std::shared_ptr<BackendApi> backendApi_;
  std::shared_ptr<TransferCoordinator> transferCoordinator_;
  std::shared_ptr<LectureService> lectureService_;
  std::shared_ptr<AchievementService> achievementService_;
  std::shared_ptr<NewsService> newsService_;
  std::shared_ptr<ProfileService> profileService_;
  std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
};
