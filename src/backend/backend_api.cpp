#include "backend/backend_api.h"

#include <cstdlib>

#include "model/achievement_request.h"
#include "model/add_password_request.h"
#include "model/best_quiz_result_request.h"
#include "model/change_password_request.h"
#include "model/curriculum_request.h"
#include "model/document_request.h"
#include "model/external_register_request.h"
#include "model/lecture_request.h"
#include "model/login_request.h"
#include "model/modify_external_profile_request.h"
#include "model/news_request.h"
#include "model/password_recovery_request.h"
#include "model/quiz_request.h"
#include "model/quiz_result_request.h"
#include "model/register_request.h"
#include "model/student_achievement_request.h"
#include "platform/foundation/fatal_error.h"

namespace {

std::string configuredBackendUrl() {
  const char* configured = std::getenv(BackendApi::kBackendUrlVariable);
  if (!configured || !*configured) return std::string("https://") + BackendApi::kBackendHost + "/BrevantTest/";
  std::string url = configured;
  if (url.back() != '/') url += '/';
  return url;
}

LectureRequest lectureRequest(std::optional<std::string> name, std::optional<BackendApi::Id> pageNumber,
                              std::optional<BackendApi::Id> pageSize) {
  LectureRequest request;
  request.name = std::move(name);
  request.pageNumber = pageNumber;
  request.pageSize = pageSize;
  return request;
}

ModifyExternalProfileRequest externalProfileRequest(std::string provider, std::string token) {
  ModifyExternalProfileRequest request;
  request.provider = std::move(provider);
  request.token = std::move(token);
  return request;
}

}  // namespace

BackendApi::BackendApi() : backendUrl_(configuredBackendUrl()) {}

BackendApi::BackendApi(std::string backendUrl) : backendUrl_(std::move(backendUrl)) {}

std::shared_ptr<TransferCoordinator> BackendApi::coordinator() const {
  auto coordinator = transferCoordinator();
  if (!coordinator) fatalError("BackendApi: transferCoordinator is not set");
  return coordinator;
}

std::string BackendApi::buildUrl(const std::string& path) const { return backendUrl_ + path; }

void BackendApi::login(std::string userName, std::string password, Completion<LoginResponse> completion) {
  LoginRequest request;
  request.userName = std::move(userName);
  request.password = std::move(password);
  send(Method::POST, "Account/TabletLogin", std::move(request), false, std::move(completion));
}

void BackendApi::changePassword(std::string oldPassword, std::string newPassword,
                                Completion<LoginResponse> completion) {
  ChangePasswordRequest request;
  request.oldPassword = std::move(oldPassword);
  request.newPassword = std::move(newPassword);
  send(Method::POST, "Account/TabletChangePassword", std::move(request), true, std::move(completion));
}

void BackendApi::externalRegister(std::string userName, std::string firstName, std::string lastName, std::string token,
                                  std::string provider, std::optional<std::vector<Id>> schools,
                                  Completion<LoginResponse> completion) {
  ExternalRegisterRequest request;
  request.userName = std::move(userName);
  request.firstName = std::move(firstName);
  request.lastName = std::move(lastName);
  request.token = std::move(token);
  request.provider = std::move(provider);
  request.schools = std::move(schools);
  send(Method::POST, "Account/TabletExternalRegister", std::move(request), false, std::move(completion));
}

void BackendApi::addPassword(std::string newPassword, Completion<LoginResponse> completion) {
  AddPasswordRequest request;
  request.newPassword = std::move(newPassword);
  send(Method::POST, "Account/TabletAddPassword", std::move(request), true, std::move(completion));
}

void BackendApi::addExternalProfile(std::string provider, std::string token, Completion<LoginResponse> completion) {
  send(Method::POST, "Account/TabletAddExternalProfile", externalProfileRequest(std::move(provider), std::move(token)),
       true, std::move(completion));
}

void BackendApi::modifyExternalProfile(std::string provider, std::string token, Completion<EmptyPayload> completion) {
  // The backend has one path for adding and modifying.
  send(Method::POST, "Account/TabletAddExternalProfile", externalProfileRequest(std::move(provider), std::move(token)),
       true, std::move(completion));
}

void BackendApi::register_(std::string userName, std::string firstName, std::string lastName, std::string password,
                           std::string confirmPassword, std::optional<std::vector<Id>> schools,
                           Completion<LoginResponse> completion) {
  RegisterRequest request;
  request.userName = std::move(userName);
  request.firstName = std::move(firstName);
  request.lastName = std::move(lastName);
  request.password = std::move(password);
  request.confirmPassword = std::move(confirmPassword);
  request.schools = std::move(schools);
  send(Method::POST, "Account/TabletRegister", std::move(request), false, std::move(completion));
}

void BackendApi::recoverPassword(std::string userName, Completion<EmptyPayload> completion) {
  PasswordRecoveryRequest request;
  request.userName = std::move(userName);
  send(Method::POST, "Account/TabletPasswordRecovery", std::move(request), false, std::move(completion));
}

void BackendApi::getAvailableLectures(std::optional<std::string> name, std::optional<Id> pageNumber,
                                      std::optional<Id> pageSize,
                                      Completion<MappableArray<LectureResponse>> completion) {
  send(Method::POST, "Tablet/GetAvailableLectures", lectureRequest(std::move(name), pageNumber, pageSize), true,
       std::move(completion));
}

void BackendApi::getLecturesWithQuiz(std::optional<std::string> name, std::optional<Id> pageNumber,
                                     std::optional<Id> pageSize,
                                     Completion<MappableArray<LectureResponse>> completion) {
  send(Method::POST, "Tablet/GetLecturesWithQuiz", lectureRequest(std::move(name), pageNumber, pageSize), true,
       std::move(completion));
}

void BackendApi::addLectures(std::vector<Id> ids, Completion<EmptyPayload> completion) {
  send(Method::POST, "Tablet/AddLectures", std::move(ids), true, std::move(completion));
}

void BackendApi::deleteLectures(std::vector<Id> ids, Completion<EmptyPayload> completion) {
  send(Method::POST, "Tablet/DeleteLectures", std::move(ids), true, std::move(completion));
}

void BackendApi::getCurriculums(Id lectureId, std::optional<std::string> name, std::optional<Id> id,
                                std::optional<bool> all, std::optional<Id> pageNumber, std::optional<Id> pageSize,
                                Completion<MappableArray<CurriculumResponse>> completion) {
  CurriculumRequest request;
  request.lectureId = lectureId;
  request.name = std::move(name);
  request.id = id;
  request.all = all;
  request.pageNumber = pageNumber;
  request.pageSize = pageSize;
  send(Method::POST, "Tablet/GetCurriculums", std::move(request), true, std::move(completion));
}

void BackendApi::getDocuments(Id curriculumId, std::optional<std::string> name, std::optional<Id> pageNumber,
                              std::optional<Id> pageSize, Completion<MappableArray<DocumentResponse>> completion) {
  DocumentRequest request;
  request.curriculumId = curriculumId;
  request.name = std::move(name);
  request.pageNumber = pageNumber;
  request.pageSize = pageSize;
  send(Method::POST, "Tablet/GetDocuments", std::move(request), true, std::move(completion));
}

void BackendApi::downloadDocument(const std::string& document, DownloadCompletion completion) {
  coordinator()->downloadDataFromUrl(buildUrl("Tablet/GetDocument?p=~" + document), std::move(completion));
}

void BackendApi::downloadData(const std::string& path, DownloadCompletion completion) {
  coordinator()->downloadDataFromUrl(buildUrl(path), std::move(completion));
}

void BackendApi::getQuizes(std::optional<Id> id, std::optional<Id> lectureId, std::optional<Id> curriculumId,
                           std::optional<bool> all, std::optional<std::string> name, std::optional<Id> pageNumber,
                           std::optional<Id> pageSize, Completion<MappableArray<QuizResponse>> completion) {
  QuizRequest request;
  request.id = id;
  request.lectureId = lectureId;
  request.curriculumId = curriculumId;
  request.all = all;
  request.name = std::move(name);
  request.pageNumber = pageNumber;
  request.pageSize = pageSize;
  send(Method::POST, "Tablet/GetQuizes", std::move(request), true, std::move(completion));
}

void BackendApi::getQuizResults(std::optional<Id> quizId, std::optional<Id> lectureId, std::optional<Date> date,
                                Completion<MappableArray<QuizResultResponse>> completion) {
  QuizResultRequest request;
  request.quizId = quizId;
  request.lectureId = lectureId;
  request.date = date;
  send(Method::POST, "Tablet/GetQuizResults", std::move(request), true, std::move(completion));
}

void BackendApi::saveQuizResults(std::vector<SaveQuizResultsRequest> results,
                                 Completion<SaveQuizResultsResponse> completion) {
  send(Method::POST, "Tablet/SaveQuizResults", MappableArray<SaveQuizResultsRequest>(std::move(results)), true,
       std::move(completion));
}

void BackendApi::getBestQuizResults(std::optional<Id> lectureId, std::optional<Id> curriculumId,
                                    std::optional<Id> quizId,
                                    Completion<MappableArray<QuizResultResponse>> completion) {
  BestQuizResultRequest request;
  request.lectureId = lectureId;
  request.curriculumId = curriculumId;
  request.quizId = quizId;
  send(Method::POST, "Tablet/GetBestQuizResults", std::move(request), true, std::move(completion));
}

void BackendApi::getAchievements(std::optional<Id> id, std::optional<AchievementRequestEntityType> entityType,
                                 Completion<MappableArray<AchievementResponse>> completion) {
  AchievementRequest request;
  request.id = id;
  request.entityType = entityType;
  send(Method::POST, "Tablet/GetAchievements", std::move(request), true, std::move(completion));
}

void BackendApi::getStudentAchievements(std::optional<Id> lectureId, std::optional<Id> pageNumber,
                                        std::optional<Id> pageSize,
                                        Completion<MappableArray<AchievementResponse>> completion) {
  StudentAchievementRequest request;
  request.lectureId = lectureId;
  request.pageNumber = pageNumber;
  request.pageSize = pageSize;
  send(Method::POST, "Tablet/GetStudentAchievements", std::move(request), true, std::move(completion));
}

void BackendApi::getUserProfile(Completion<UserProfileResponse> completion) {
  send(Method::GET, "Tablet/GetUserProfile", EmptyPayload(), true, std::move(completion));
}

void BackendApi::getSchools(Completion<MappableArray<SchoolResponse>> completion) {
  send(Method::GET, "Tablet/GetSchools", EmptyPayload(), false, std::move(completion));
}

void BackendApi::uploadProfilePicture(Data imageData, std::string pictureFormat, std::function<void()> success,
                                      std::function<void(std::optional<TransferError<ErrorResponse>>)> failure,
                                      std::function<void(std::string)> encodeError) {
  coordinator()->uploadImage<ErrorResponse>(buildUrl("Account/TabletUploadProfilePicture"), std::move(imageData),
                                            std::move(pictureFormat), std::move(success), std::move(failure),
                                            std::move(encodeError));
}

void BackendApi::getNews(std::optional<Id> lectureId, std::optional<std::string> searchText,
                         Completion<MappableArray<NewsResponse>> completion) {
  NewsRequest request;
  request.lectureId = lectureId;
  request.searchText = std::move(searchText);
  send(Method::POST, "Tablet/GetNews", std::move(request), true, std::move(completion));
}
