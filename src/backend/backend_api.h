#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend/transfer_coordinator.h"
#include "backend/transfer_error.h"
#include "model/achievement_request_entity_type.h"
#include "model/achievement_response.h"
#include "model/curriculum_response.h"
#include "model/document_response.h"
#include "model/empty_payload.h"
#include "model/error_response.h"
#include "model/lecture_response.h"
#include "model/login_response.h"
#include "model/mappable_array.h"
#include "model/news_response.h"
#include "model/quiz_response.h"
#include "model/quiz_result_response.h"
#include "model/save_quiz_results_request.h"
#include "model/save_quiz_results_response.h"
#include "model/school_response.h"
#include "model/user_profile_response.h"
#include "platform/foundation/data.h"
#include "platform/foundation/date.h"

// One operation per backend call: each builds its request record from its arguments and hands it,
// with the call's path, method and authorization, to the transfer coordinator. Completions get the
// coordinator's result unchanged; an empty completion drops it (the call is made all the same).
class BackendApi {
 public:
  template <class T>
  using Completion = std::function<void(std::optional<T> reply, std::optional<TransferError<ErrorResponse>> error)>;
  using DownloadCompletion = TransferCoordinator::DownloadCompletion;
  using Id = std::int64_t;

  // The backend's host; the base URL is "https://" + host + "/BrevantTest/".
  static constexpr const char* kBackendHost = "backend.dorvale.com";
  // Replaces the base URL when set (a "/" is added when it does not end with one).
  static constexpr const char* kBackendUrlVariable = "DORVALE_BACKEND_URL";

  // The base URL from the environment, else the default.
  BackendApi();
  explicit BackendApi(std::string backendUrl);
  virtual ~BackendApi() = default;

  // Held weakly; set once before the first call.
  std::shared_ptr<TransferCoordinator> transferCoordinator() const { return transferCoordinator_.lock(); }
  void setTransferCoordinator(std::weak_ptr<TransferCoordinator> coordinator) {
    transferCoordinator_ = std::move(coordinator);
  }

  const std::string& backendUrl() const { return backendUrl_; }
  // backendUrl followed directly by `path`: no separator, no encoding.
  virtual std::string buildUrl(const std::string& path) const;

  // Account calls.
  virtual void login(std::string userName, std::string password, Completion<LoginResponse> completion = {});
  virtual void changePassword(std::string oldPassword, std::string newPassword,
                              Completion<LoginResponse> completion = {});
  virtual void externalRegister(std::string userName, std::string firstName, std::string lastName, std::string token,
                                std::string provider, std::optional<std::vector<Id>> schools,
                                Completion<LoginResponse> completion = {});
  virtual void addPassword(std::string newPassword, Completion<LoginResponse> completion = {});
  virtual void addExternalProfile(std::string provider, std::string token, Completion<LoginResponse> completion = {});
  virtual void modifyExternalProfile(std::string provider, std::string token, Completion<EmptyPayload> completion = {});
  virtual void register_(std::string userName, std::string firstName, std::string lastName, std::string password,
                         std::string confirmPassword, std::optional<std::vector<Id>> schools,
                         Completion<LoginResponse> completion = {});
  virtual void recoverPassword(std::string userName, Completion<EmptyPayload> completion = {});

  // Content calls.
  virtual void getAvailableLectures(std::optional<std::string> name, std::optional<Id> pageNumber,
                                    std::optional<Id> pageSize,
                                    Completion<MappableArray<LectureResponse>> completion = {});
  virtual void getLecturesWithQuiz(std::optional<std::string> name, std::optional<Id> pageNumber,
                                   std::optional<Id> pageSize,
                                   Completion<MappableArray<LectureResponse>> completion = {});
  virtual void addLectures(std::vector<Id> ids, Completion<EmptyPayload> completion = {});
  virtual void deleteLectures(std::vector<Id> ids, Completion<EmptyPayload> completion = {});
  virtual void getCurriculums(Id lectureId, std::optional<std::string> name, std::optional<Id> id,
                              std::optional<bool> all, std::optional<Id> pageNumber, std::optional<Id> pageSize,
                              Completion<MappableArray<CurriculumResponse>> completion = {});
  virtual void getDocuments(Id curriculumId, std::optional<std::string> name, std::optional<Id> pageNumber,
                            std::optional<Id> pageSize, Completion<MappableArray<DocumentResponse>> completion = {});
  virtual void downloadDocument(const std::string& document, DownloadCompletion completion);
  virtual void downloadData(const std::string& path, DownloadCompletion completion);
  virtual void getQuizes(std::optional<Id> id, std::optional<Id> lectureId, std::optional<Id> curriculumId,
                         std::optional<bool> all, std::optional<std::string> name, std::optional<Id> pageNumber,
                         std::optional<Id> pageSize, Completion<MappableArray<QuizResponse>> completion = {});
  virtual void getQuizResults(std::optional<Id> quizId, std::optional<Id> lectureId, std::optional<Date> date,
                              Completion<MappableArray<QuizResultResponse>> completion = {});
  virtual void saveQuizResults(std::vector<SaveQuizResultsRequest> results,
                               Completion<SaveQuizResultsResponse> completion = {});
  virtual void getBestQuizResults(std::optional<Id> lectureId, std::optional<Id> curriculumId, std::optional<Id> quizId,
                                  Completion<MappableArray<QuizResultResponse>> completion = {});
  virtual void getAchievements(std::optional<Id> id, std::optional<AchievementRequestEntityType> entityType,
                               Completion<MappableArray<AchievementResponse>> completion = {});
  virtual void getStudentAchievements(std::optional<Id> lectureId, std::optional<Id> pageNumber,
                                      std::optional<Id> pageSize,
                                      Completion<MappableArray<AchievementResponse>> completion = {});
  virtual void getUserProfile(Completion<UserProfileResponse> completion = {});
  virtual void getSchools(Completion<MappableArray<SchoolResponse>> completion = {});
  virtual void uploadProfilePicture(Data imageData, std::string pictureFormat, std::function<void()> success,
                                    std::function<void(std::optional<TransferError<ErrorResponse>>)> failure,
                                    std::function<void(std::string)> encodeError);
  virtual void getNews(std::optional<Id> lectureId, std::optional<std::string> searchText,
                       Completion<MappableArray<NewsResponse>> completion = {});

 private:
  std::shared_ptr<TransferCoordinator> coordinator() const;

  template <class P, class T>
  void send(Method method, const std::string& path, P payload, bool authenticate, Completion<T> completion) {
    coordinator()->sendRequest<P, T, ErrorResponse>(method, buildUrl(path), std::optional<P>(std::move(payload)),
                                                    authenticate, std::move(completion));
  }

  std::weak_ptr<TransferCoordinator> transferCoordinator_;
  const std::string backendUrl_;
};
