#include "services/service_locator.h"

#include <atomic>
#include <mutex>

#include "backend/error_handler.h"
#include "model/model_url_builder.h"
#include "platform/foundation/fatal_error.h"
#include "platform/foundation/run_loop.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/keychain/keychain_store.h"
#include "services/achievement_service.h"
#include "services/lecture_service.h"
#include "services/news_service.h"
#include "services/profile_service.h"
#include "signin/daz_sign_in.h"

namespace {

std::mutex& creationMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::atomic<ServiceLocator*> instance{nullptr};

}  // namespace

ServiceLocator& ServiceLocator::shared() {
  if (auto* existing = instance.load(std::memory_order_acquire)) return *existing;
  std::lock_guard lock(creationMutex());
  auto* locator = instance.load(std::memory_order_relaxed);
  if (!locator) {
    locator = new ServiceLocator(nullptr, std::nullopt);
    instance.store(locator, std::memory_order_release);
  }
  return *locator;
}

void ServiceLocator::setUpForTesting(TestDoubles doubles) {
  std::lock_guard lock(creationMutex());
  if (instance.load(std::memory_order_relaxed)) fatalError("ServiceLocator: the shared locator exists already");
  if (doubles.keychainStore) KeychainStore::setCurrent(doubles.keychainStore);
  if (doubles.facebookLoginPresenter) FBSDKLoginDialogPresenter::setCurrent(doubles.facebookLoginPresenter);
  if (doubles.facebookGraphBaseUrl) FBSDKSettings::setGraphBaseURL(doubles.facebookGraphBaseUrl);
  if (doubles.zedodoSignInFlow) DAZSignIn::sharedInstance()->setFlow(doubles.zedodoSignInFlow);
  auto* locator = new ServiceLocator(std::move(doubles.httpClient), std::move(doubles.backendUrl));
  if (doubles.viewControllerFactory) locator->viewControllerFactory_ = std::move(doubles.viewControllerFactory);
  instance.store(locator, std::memory_order_release);
}

void ServiceLocator::tearDownForTesting() {
  RunLoop::main().runUntilIdle();
  std::lock_guard lock(creationMutex());
  delete instance.exchange(nullptr, std::memory_order_acq_rel);
}

ServiceLocator::ServiceLocator(std::shared_ptr<HTTPClient> httpClient, std::optional<std::string> backendUrl)
    : authenticationManager_(std::make_shared<AuthenticationManager>()),
      backendApi_(backendUrl ? std::make_shared<BackendApi>(std::move(*backendUrl)) : std::make_shared<BackendApi>()),
      transferCoordinator_(std::make_shared<TransferCoordinator>(std::move(httpClient))),
      viewControllerFactory_(std::make_shared<MainViewControllerFactory>()) {
  authenticationManager_->setBackendApi(backendApi_);
  backendApi_->setTransferCoordinator(transferCoordinator_);
  transferCoordinator_->setAuthenticationManager(authenticationManager_);
  // The backend layer signs out on 401 through the manager it cannot name itself.
  ErrorHandler::setLogoutAction([manager = std::weak_ptr<AuthenticationManager>(authenticationManager_)] {
    if (auto m = manager.lock()) m->expireSession(ErrorMessages::unauthorizedMessage());
  });
  wireContentServices();
}

ServiceLocator::~ServiceLocator() {
  ErrorHandler::setLogoutAction(nullptr);
  ModelUrlBuilder::install(nullptr);
}

void ServiceLocator::wireContentServices() {
  lectureService_ = std::make_shared<LectureService>(backendApi_);
  achievementService_ = std::make_shared<AchievementService>(backendApi_);
  newsService_ = std::make_shared<NewsService>(backendApi_);
  profileService_ = std::make_shared<ProfileService>(backendApi_);
  authenticationManager_->setProfileService(profileService_);
  // Models complete picture and document paths with the backend API; they cannot name it.
  ModelUrlBuilder::install([api = std::weak_ptr<BackendApi>(backendApi_)](const std::string& path) {
    auto backendApi = api.lock();
    if (!backendApi) fatalError("ModelUrlBuilder: the backend API is gone");
    return backendApi->buildUrl(path);
  });
}
