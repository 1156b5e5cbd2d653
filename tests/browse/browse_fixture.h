#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/progress_indicator_helper.h"
#include "backend/backend_api.h"
#include "browse/lecture_details_view_controller.h"
#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/http/manager.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/ui/controller_test_support.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_window.h"
#include "services/authentication_manager.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"
#include "support/fake_backend.h"

inline std::string lecture(int id, const std::string& name, const std::string& color = "teal_amber") {
  return fmt::format(R"({{"id":{},"name":"{}","description":"about","color":"{}"}})", id, name, color);
}

// The lecture service's quiz, curriculum and best-result calls, held until the test lets each go
// on to the backend, in any order. Every other call goes on at once.
class HoldingBackendApi : public BackendApi {
 public:
  struct Call {
    std::string name;  // "getQuizes", "getCurriculums" or "getBestQuizResults"
    std::optional<Id> curriculumId;
    std::function<void()> send;
  };
  using BackendApi::BackendApi;

  void getQuizes(std::optional<Id> id, std::optional<Id> lectureId, std::optional<Id> curriculumId,
                 std::optional<bool> all, std::optional<std::string> name, std::optional<Id> pageNumber,
                 std::optional<Id> pageSize, Completion<MappableArray<QuizResponse>> completion) override {
    held.push_back({"getQuizes", curriculumId, [=, this] {
                      BackendApi::getQuizes(id, lectureId, curriculumId, all, name, pageNumber, pageSize, completion);
                    }});
  }
  void getCurriculums(Id lectureId, std::optional<std::string> name, std::optional<Id> id, std::optional<bool> all,
                      std::optional<Id> pageNumber, std::optional<Id> pageSize,
                      Completion<MappableArray<CurriculumResponse>> completion) override {
    held.push_back({"getCurriculums", id, [=, this] {
                      BackendApi::getCurriculums(lectureId, name, id, all, pageNumber, pageSize, completion);
                    }});
  }
  void getBestQuizResults(std::optional<Id> lectureId, std::optional<Id> curriculumId, std::optional<Id> quizId,
                          Completion<MappableArray<QuizResultResponse>> completion) override {
    held.push_back({"getBestQuizResults", curriculumId,
                    [=, this] { BackendApi::getBestQuizResults(lectureId, curriculumId, quizId, completion); }});
  }

  // Sends the held call at `index` and forgets it.
  void release(std::size_t index) {
    auto call = held.at(index);
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
    call.send();
  }

  std::vector<Call> held;
};

// The "Main" storyboard's screens over the services and the fake backend, in a navigation stack.
class BrowseTest : public ControllerTest {
 protected:
  void SetUp() override {
    Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
    UIImage::setNamedImageLoader(UIImage::directoryLoader(DORVALE_SOURCE_RESOURCES "/images"));
    registerMainStoryboard();
    ServiceLocator::setUpForTesting({std::make_shared<MemoryKeychainStore>(),
                                     Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration()),
                                     server.url("api/"), nullptr, std::nullopt, nullptr});
    ServiceLocator::shared().authenticationManager()->setAccessToken("tok");
    ServiceLocator::shared().authenticationManager()->setAuthenticationType(AuthenticationType::Basic);
  }
  void TearDown() override {
    // A held call holds its screen, which holds the service that holds the calls.
    if (holding) holding->held.clear();
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    window.reset();
    ServiceLocator::tearDownForTesting();
    UIStoryboard::unregisterStoryboard("Main");
    UIImage::resetNamedImages();
    Bundle::setMainResourcePath(std::nullopt);
  }
  void reply(const std::string& path, std::string body, int status = 200) {
    server.reply("POST", "/api/Tablet/" + path,
                 {.status = status, .body = std::move(body), .contentType = "application/json"});
  }
  // From now on the lecture service's quiz, curriculum and best-result calls wait for the test.
  std::shared_ptr<HoldingBackendApi> holdCalls() {
    const auto& locator = ServiceLocator::shared();
    holding = std::make_shared<HoldingBackendApi>(locator.backendApi()->backendUrl());
    holding->setTransferCoordinator(locator.transferCoordinator());
    locator.lectureService()->setBackendApi(holding);
    return holding;
  }
  // Until the screen's call has answered (every call ends by hiding the overlay).
  void settle() {
    time.runUntil([] { return !ProgressIndicatorHelper::instance()->timer(); });
    time.runUntilIdle();
  }
  // `root` at the bottom of a navigation stack in a window.
  void show(const std::shared_ptr<UIViewController>& root) {
    nav = std::make_shared<UINavigationController>(root);
    window = UIWindow::make();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
  }
  static std::shared_ptr<UIViewController> scene(const std::string& identifier) {
    return UIStoryboard::storyboardWithName("Main")->instantiateViewControllerWithIdentifier(identifier);
  }
  // The details of `lectureJson`, pushed over a plain screen.
  std::shared_ptr<LectureDetailsViewController> showDetails(const std::string& lectureJson) {
    auto details = std::dynamic_pointer_cast<LectureDetailsViewController>(scene("lectureDetailsViewController"));
    details->setLecture(Lecture::init(*LectureResponse::decode(lectureJson)));
    show(std::make_shared<UIViewController>());
    nav->pushViewController(details, false);
    settle();
    return details;
  }
  static std::string names(const std::vector<std::shared_ptr<Lecture>>& lectures) {
    std::string text;
    for (const auto& l : lectures) text += (text.empty() ? "" : ",") + l->name();
    return text;
  }

  FakeBackend server;
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UINavigationController> nav;
  std::shared_ptr<HoldingBackendApi> holding;
};
